// Input outside the module's contract: indexes and counts outside an area,
// BlockSize 0 or negative, calls out of order, unknown names, negative and
// huge counts, requests too long for a frame, and hostile replies. Each test
// guards lines of docs/robustness.md; the fuzz targets (fuzz/) search for more.

#include "core/driver_harness.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr qint32 Int32Max = std::numeric_limits<qint32>::max();
const char* const kGoodD100 = "02 31 32 33 34 03 43 44"; // "1234": sum 0xCD

// Sent as the address map and the count fields compute them, never checked.
TEST(OutOfContract, OddItemsGoOutWithTheFieldsTheyComputeTo)
{
    const std::pair<VarItem, const char*> rows[] = {
        // D-1 lies 2 bytes below D0's 0x1000: 0x0FFE, D8255 on the PLC. "1"
        // "0FFE" "02" "3412" ETX: 0x31+0x30+0x46+0x46+0x45+0x30+0x32+0x33+0x34
        // +0x31+0x32+0x03 = 0x261, sum "61".
        {makeItem("D", -1, 1, "34 12"), "02 31 30 46 46 45 30 32 33 34 31 32 03 36 31"},
        // 128 words do not fit the count field: "1" "1000" "00" ETX, sum 0x155.
        {makeItem("D", 0, 128, "11 11"), "02 31 31 30 30 30 30 30 03 35 35"},
        // 400 bytes = 0x190 go out as "90": "0" "1000" "90" ETX, sum 0x15D.
        {makeItem("D", 0, 200), "02 30 31 30 30 30 39 30 03 35 44"},
    };
    for (const auto& [item, bytes] : rows) {
        DriverHarness d;
        item.Data.isEmpty() ? d.driver.AddListReadVar(item) : d.driver.AddListWriteVar(item);
        RequestFrame* frame = d.driver.ComCommunication();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->FrameBytes, fromHexBytes(bytes));
        // The image skips D-1: the last two bytes of the C area, which lie just
        // before the D area, stay 0.
        EXPECT_EQ(d.get("C", 304, 16), QByteArray(16, '\0'));
    }
}

// Taken as 1 wherever it divides or limits.
TEST(OutOfContract, BlockSizeBelowOneCountsAsOne)
{
    for (const qint32 blockSize : {0, -1, std::numeric_limits<qint32>::min()}) {
        DriverHarness d(blockSize, WriteModeQueue);
        VarItem request = makeItem("D", 0, 2);
        EXPECT_EQ(d.driver.AddListOnceReadVar(request), 2) << blockSize;
        EXPECT_EQ(d.driver.ReCreatReadVarList({makeVar("D", 0, 2), makeVar("M", 0, 9)}), 4);
        EXPECT_EQ(spansOf(d.requestItems(6)), "D:0+1 D:1+1 M:0+1 M:8+1 D:0+1 D:1+1");
        EXPECT_EQ(d.set("D", 0, "01 00 02 00", 2), 2);
    }
}

// Without a block every ComInfo word reads 0: BlockSize counts as 1, writes go
// to the image only, RetryLimit is 0. DataCom with nothing in flight gives the
// no-reply code and changes nothing, not even the list of the last item taken;
// without a callback a write ends silently.
TEST(OutOfContract, CallsOutOfOrderDoNoHarm)
{
    Tavrin driver;
    QByteArray d5;
    EXPECT_EQ(driver.SetRegisterData(QStringLiteral("D"), 5, 0, fromHexBytes("07 00"), 1), 1);
    driver.GetRegisterData(QStringLiteral("D"), 5, 0, d5, 1);
    EXPECT_EQ(d5, fromHexBytes("07 00"));
    VarItem request = makeItem("D", 0, 2);
    EXPECT_EQ(driver.AddListOnceReadVar(request), 2); // BlockSize 1: two blocks
    driver.AddListWriteVar(makeItem("D", 0, 1, "01 00"));
    ASSERT_NE(driver.ComCommunication(), nullptr);
    EXPECT_EQ(driver.DataCom(fromHexBytes("06")), ReplyAccepted); // the last item was a write
    driver.AddListWriteVar(makeItem("D", 1, 1, "02 00"));
    EXPECT_EQ(driver.DataCom(fromHexBytes("06")), ReplyMissing); // nothing in flight
    const RequestFrame* frame = driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Item.Addr, 1); // the D1 write is still there
    EXPECT_EQ(driver.DataCom(fromHexBytes("06")), ReplyAccepted);
    frame = driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Item.OpKind, OpKindRead); // the write list is empty
    EXPECT_EQ(driver.DataCom(QByteArray()), ReplyMissing); // given up at once
}

// An item no builder knows stays first in its list and costs five empty calls
// per round: the burst limit then gives the cyclic block its turn.
TEST(OutOfContract, UnknownNamesAreAcceptedButNeverSentStoredOrRead)
{
    DriverHarness d(16, WriteModeQueue);
    EXPECT_EQ(d.get("Q", 0, 4, "09"), fromHexBytes("09"));
    EXPECT_EQ(d.set("Q", 0, "01", 1), 0);
    EXPECT_EQ(d.driver.ReCreatReadVarList({makeVar("d", 0, 2), makeVar("D_BIT", 0, 1)}), 0);
    d.driver.AddListWriteVar(makeItem("Q", 0, 1, "01"));
    d.driver.AddListReadVar(makeItem("D", 100, 1));
    for (int call = 0; call < 12; ++call) {
        RequestFrame* frame = d.driver.ComCommunication();
        ASSERT_EQ(frame != nullptr, call % 6 == 5) << "call " << call;
        if (frame)
            d.driver.DataCom(fromHexBytes(kGoodD100));
    }
}

// Reads give 0 outside the area, stores skip it: SD0 follows D7999 in the
// image. Counts of 0 or less queue, store and read nothing; huge ones stop at
// the list limits and the type's index space.
TEST(OutOfContract, IndexesAndCountsOutOfRangeAreBounded)
{
    DriverHarness d(64); // image-only writes first
    d.set("D", 0, "01 02", 1);
    EXPECT_EQ(d.get("D", -1, 2), fromHexBytes("00 00 01 02"));
    EXPECT_EQ(d.get("D", Int32Max, 2), fromHexBytes("00 00 00 00")); // no wrap
    EXPECT_EQ(d.get("D", 0, Int32Max).size(), 16000);                // 8000 words
    d.set("D", 7999, "01 00 02 00", 2);
    EXPECT_EQ(d.get("D", 7999, 2), fromHexBytes("01 00 00 00"));
    EXPECT_EQ(d.get("SD", 0, 1), fromHexBytes("00 00")); // the next word area
    d.comInfo[ComInfoWord::WriteMode] = WriteModeQueue;
    VarItem request = makeItem("D", 0, -5);
    EXPECT_EQ(d.driver.AddListOnceReadVar(request), 0);
    EXPECT_EQ(d.set("D", 0, "01 00", -3), 0);
    EXPECT_EQ(d.set("M", 0, "01", 0), 0);
    EXPECT_EQ(d.get("D", 0, -1, "05 05"), fromHexBytes("05 05"));
    // Length -4 opens a block of -4 words whose read expects a reply of -12
    // bytes: no reply passes, so it is given up every pass and nothing decoded.
    EXPECT_EQ(d.driver.ReCreatReadVarList({makeVar("D", 10, -4)}), 1);
    ASSERT_NE(d.driver.ComCommunication(), nullptr);
    EXPECT_EQ(d.driver.DataCom(fromHexBytes(kGoodD100)), ReplyWrongLength);
    EXPECT_EQ(d.get("D", 10, 1), fromHexBytes("00 00"));
    request = makeItem("D", 2000000000, 2000000000);
    EXPECT_EQ(d.driver.AddListOnceReadVar(request), PendingListLimit);
    // No block starts beyond 2^31 - 1: 147,483,647 / 64 = 2,304,431 whole steps
    // fit, so the record ends as the block at 2,000,000,000 + 2,304,431 x 64.
    EXPECT_EQ(request.Addr, 2147483584);
    EXPECT_EQ(d.set("M", 0, "", Int32Max), PendingListLimit);
    // 8000 D words in pieces of one word, and one more for a start that is not
    // the type's first register.
    d.comInfo[ComInfoWord::BlockSize] = 1;
    EXPECT_EQ(d.driver.ReCreatReadVarList({makeVar("D", 0, Int32Max)}), 8001);
}

// A read of D100 (reply 8 bytes) or a write to it by HostId 3 (reply ACK), with
// RetryLimit 0: DataCom gives up at once and returns the reply's own code. Non
// digits decode by the reply rule (c - 55) mod 16: '~' (126) gives 7, sum
// 4 x 0x7E + 3 = 0x1FB; 0xFF gives 8, sum 0x3FF.
TEST(OutOfContract, HostileRepliesAreJudgedByLengthFramingAndSumAlone)
{
    const std::tuple<const char*, bool, const char*, qint32, quint16> rows[] = {
        {"AckToARead", false, "06", ReplyWrongLength, 0x5555},
        {"OneByteTooLong", false, "02 31 32 33 34 03 43 44 00", ReplyWrongLength, 0x5555},
        {"EtxMissing", false, "02 31 32 33 34 04 43 44", ReplyBadFrame, 0x5555},
        {"StxMissing", false, "00 31 32 33 34 03 43 44", ReplyBadFrame, 0x5555},
        {"NonHexCharacters", false, "02 7E 7E 7E 7E 03 46 42", ReplyAccepted, 0x7777},
        {"BytesAbove127", false, "02 FF FF FF FF 03 46 46", ReplyAccepted, 0x8888},
        {"DataToAWrite", true, kGoodD100, ReplyWrongLength + 3, 1}, // the image took 1 at build
        {"NakToAWrite", true, "15", ReplyBadFrame + 3, 1},
    };
    for (const auto& [label, write, reply, result, d100] : rows) {
        DriverHarness d;
        d.set("D", 100, "55 55", 1);
        write ? d.driver.AddListWriteVar(makeItem("D", 100, 1, "01 00", 3))
              : d.driver.AddListReadVar(makeItem("D", 100, 1));
        ASSERT_NE(d.driver.ComCommunication(), nullptr);
        EXPECT_EQ(d.driver.DataCom(fromHexBytes(reply)), result) << label;
        const QByteArray d100Bytes = QByteArray(1, char(d100 & 0xFF)) + char(d100 >> 8); // low byte first
        EXPECT_EQ(d.get("D", 100, 1), d100Bytes) << label;
    }
}

} // namespace
