// What the module does with input outside its contract: indexes and counts
// outside an area, BlockSize 0 or negative, DataCom with nothing in flight,
// no callback registered, unknown register names, negative and huge counts,
// requests longer than a frame's byte count can carry, calls before
// SetComInfo, and hostile replies. Each test guards one line of
// docs/robustness.md; the fuzz targets (fuzz/) search for more.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <QList>

#include <cstring>
#include <limits>
#include <ostream>

namespace {

constexpr qint32 Int32Max = std::numeric_limits<qint32>::max();

struct Driver {
    explicit Driver(qint32 blockSize = 16, qint32 writeMode = 0)
    {
        comInfo[ComInfoWord::BlockSize] = blockSize;
        comInfo[ComInfoWord::WriteMode] = writeMode;
        driver.SetComInfo(comInfo);
    }
    qint32 comInfo[ComInfoWord::Count] = {};
    Tavrin driver;
};

VarItem item(const char* name, qint32 addr, qint32 count, const QByteArray& data = {})
{
    VarItem v;
    v.RegName = QString::fromLatin1(name);
    v.Addr = addr;
    v.Count = count;
    v.Data = data;
    v.OpKind = data.isEmpty() ? OpKindRead : OpKindWrite;
    return v;
}

HostVarDef hostVar(const char* name, qint32 addr, qint32 length)
{
    HostVarDef var;
    var.RegName = QString::fromLatin1(name);
    var.Addr = addr;
    var.Length = length;
    return var;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

int callbackCalls = 0;
void countingCallback(qint32, qint32, qint32, qint32)
{
    ++callbackCalls;
}

// ---- Indexes and counts outside an area

struct OutOfAreaRead {
    const char* label;
    const char* name;
    qint32 start;
    qint32 count;
    QByteArray expected; // the host's array afterwards, starting empty
};

void PrintTo(const OutOfAreaRead& row, std::ostream* os)
{
    *os << row.label;
}

class OutOfAreaReads : public testing::TestWithParam<OutOfAreaRead> {};

// D0 = 0x0201, D1 = 0x0403, D7999 = 0xBBAA; SD0 (the next area) = 0xFFFF.
TEST_P(OutOfAreaReads, ReadAsZeroAndNeverPastTheArea)
{
    Driver d;
    d.driver.Image.D[0] = 0x0201;
    d.driver.Image.D[1] = 0x0403;
    d.driver.Image.D[7999] = 0xBBAA;
    d.driver.Image.SD[0] = 0xFFFF;
    QByteArray values;
    EXPECT_EQ(d.driver.GetRegisterData(QString::fromLatin1(GetParam().name), GetParam().start, 0,
                                       values, GetParam().count),
              1);
    EXPECT_EQ(values, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Image, OutOfAreaReads,
    testing::Values(
        OutOfAreaRead{"NegativeStartReadsZerosFirst", "D", -2, 4, bytes({0, 0, 0, 0, 1, 2, 3, 4})},
        OutOfAreaRead{"LastWordThenZerosNotTheNextArea", "D", 7999, 2, bytes({0xAA, 0xBB, 0, 0})},
        OutOfAreaRead{"StartNearInt32MaxDoesNotWrap", "D", Int32Max, 2, bytes({0, 0, 0, 0})},
        OutOfAreaRead{"BitsBeyondTheSpareBytesReadZero", "X", 262, 4, bytes({0, 0, 0, 0})},
        OutOfAreaRead{"NegativeBitIndexReadsZero", "D_bit", -1, 2, bytes({0, 1})}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(OutOfContract, HugeReadCountYieldsTheWholeAreaAndNoMore)
{
    Driver d;
    QByteArray values;
    d.driver.GetRegisterData(QStringLiteral("D"), 0, 0, values, Int32Max);
    EXPECT_EQ(values.size(), 16000); // 8000 words
    values.clear();
    d.driver.GetRegisterData(QStringLiteral("M"), 0, 0, values, Int32Max);
    EXPECT_EQ(values.size(), 8000); // the 1000-byte M area holds 8000 bits
}

TEST(OutOfContract, StoresOutsideAnAreaAreSkippedAndLeaveTheNeighboursAlone)
{
    Driver d; // image-only writes
    d.driver.SetRegisterData(QStringLiteral("D"), 7999, 0, bytes({1, 0, 2, 0, 3, 0}), 3);
    EXPECT_EQ(d.driver.Image.D[7999], 1);
    EXPECT_EQ(d.driver.Image.SD[0], 0);
    EXPECT_EQ(d.driver.Image.SD[1], 0);

    d.driver.SetRegisterData(QStringLiteral("M"), -1, 0, bytes({1, 1}), 2);
    EXPECT_EQ(d.driver.Image.M[0], 1); // M0 set, M-1 skipped

    d.driver.SetRegisterData(QStringLiteral("32CV"), 55, 0, bytes({1, 0, 0, 0, 2, 0, 0, 0}), 4);
    EXPECT_EQ(d.driver.Image.CV32[55], 1u);

    d.driver.SetRegisterData(QStringLiteral("C"), 318, 0, bytes({1, 1, 1, 1}), 4);
    EXPECT_EQ(d.driver.Image.C[39], 0xC0); // bits 318, 319: the last spare byte
    EXPECT_EQ(d.driver.Image.D[0], 0);     // the area after C is untouched
}

// ---- BlockSize 0 or negative: taken as 1

class BlockSizeBelowOne : public testing::TestWithParam<qint32> {};

TEST_P(BlockSizeBelowOne, SplitsOneShotReadsIntoSingleWords)
{
    Driver d(GetParam());
    VarItem request = item("D", 0, 3);
    EXPECT_EQ(d.driver.AddListOnceReadVar(request), 3);
    EXPECT_EQ(d.driver.OnceReadVarList.at(2).Addr, 2);
    EXPECT_EQ(d.driver.OnceReadVarList.at(2).Count, 1);
}

TEST_P(BlockSizeBelowOne, RebuildsOneWordBlocks)
{
    Driver d(GetParam());
    EXPECT_EQ(d.driver.ReCreatReadVarList({hostVar("D", 0, 3)}), 3);
    EXPECT_EQ(d.driver.ReadVarList.at(1).Addr, 1);
    EXPECT_EQ(d.driver.ReadVarList.at(1).Count, 1);
}

TEST_P(BlockSizeBelowOne, QueuesWordWritesOneWordEach)
{
    Driver d(GetParam(), WriteModeQueue);
    EXPECT_EQ(d.driver.SetRegisterData(QStringLiteral("D"), 0, 0, bytes({1, 0, 2, 0, 3, 0}), 3), 3);
    EXPECT_EQ(d.driver.WriteVarList.at(2).Data, bytes({3, 0}));
}

INSTANTIATE_TEST_SUITE_P(OutOfContract, BlockSizeBelowOne, testing::Values(0, -1, -2147483647 - 1));

// ---- The request cycle called out of order

TEST(OutOfContract, DataComWithNothingInFlightReturnsNoReplyAndChangesNothing)
{
    Driver d;
    d.comInfo[ComInfoWord::RetryLimit] = 0; // any failure would give up at once
    d.comInfo[ComInfoWord::ScanComplete] = 1;
    callbackCalls = 0;
    d.driver.RegistCallBackFuncIntf(countingCallback, 0);
    d.driver.AddListWriteVar(item("D", 0, 1, bytes({1, 0})));
    d.driver.ListKind = ListKindValue::Write; // as after an earlier write

    EXPECT_EQ(d.driver.DataCom(QByteArray()), ReplyMissing);
    EXPECT_EQ(d.driver.DataCom(bytes({6})), ReplyMissing);
    EXPECT_EQ(d.comInfo[ComInfoWord::RetryCount], 0);
    EXPECT_EQ(d.comInfo[ComInfoWord::ScanComplete], 1);
    EXPECT_EQ(d.driver.CommFailed, 0);
    EXPECT_EQ(d.driver.WriteVarList.size(), 1);
    EXPECT_EQ(callbackCalls, 0);
}

TEST(OutOfContract, WithoutACallbackAFinishedWriteLeavesSilently)
{
    Driver d;
    d.driver.AddListWriteVar(item("D", 0, 1, bytes({1, 0})));
    ASSERT_NE(d.driver.ComCommunication(), nullptr);
    EXPECT_EQ(d.driver.DataCom(bytes({6})), ReplyAccepted);
    EXPECT_TRUE(d.driver.WriteVarList.isEmpty());
}

TEST(OutOfContract, CallsBeforeSetComInfoSeeAnAllZeroBlock)
{
    Tavrin driver; // no ComInfo block: every word reads 0, BlockSize counts as 1
    VarItem request = item("D", 0, 2);
    EXPECT_EQ(driver.AddListOnceReadVar(request), 2);
    EXPECT_EQ(driver.SetRegisterData(QStringLiteral("D"), 5, 0, bytes({7, 0}), 1), 1);
    EXPECT_EQ(driver.Image.D[5], 7); // WriteMode 0: image only
    EXPECT_EQ(driver.ReCreatReadVarList({hostVar("D", 0, 2)}), 2);
    ASSERT_NE(driver.ComCommunication(), nullptr);
    EXPECT_EQ(driver.DataCom(QByteArray()), ReplyMissing); // RetryLimit 0: given up
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
}

// ---- Unknown register names

TEST(OutOfContract, UnknownNamesAreAcceptedButNeverSentStoredOrRead)
{
    Driver d(16, WriteModeQueue);
    const QString q = QStringLiteral("Q");
    QByteArray values = bytes({9});
    EXPECT_EQ(d.driver.GetRegisterData(q, 0, 0, values, 4), 1);
    EXPECT_EQ(values, bytes({9}));
    EXPECT_EQ(d.driver.SetRegisterData(q, 0, 0, bytes({1}), 1), 0);
    EXPECT_EQ(d.driver.ReCreatReadVarList({hostVar("d", 0, 2), hostVar("D_BIT", 0, 1)}), 0);

    // An item no builder knows stays first in its list: that list stops.
    d.driver.AddListWriteVar(item("Q", 0, 1, bytes({1})));
    EXPECT_EQ(d.driver.ComCommunication(), nullptr);
    EXPECT_EQ(d.driver.WriteVarList.size(), 1);
}

// A stuck write costs five empty calls per round: the burst limit then
// gives the cyclic block its turn, which restarts the run of writes.
TEST(OutOfContract, AStuckWriteStillLetsTheCyclicBlocksThrough)
{
    Driver d;
    d.driver.AddListWriteVar(item("Q", 0, 1, bytes({1})));
    d.driver.AddListReadVar(item("D", 100, 1));
    for (int round = 0; round < 2; ++round) {
        for (int call = 0; call < 5; ++call)
            EXPECT_EQ(d.driver.ComCommunication(), nullptr) << "round " << round << " call " << call;
        RequestFrame* frame = d.driver.ComCommunication();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->Item.RegName, QStringLiteral("D"));
        EXPECT_EQ(d.driver.DataCom(fromHexBytes("02 31 32 33 34 03 43 44")), ReplyAccepted);
    }
    EXPECT_EQ(d.driver.WriteVarList.size(), 1);
}

// ---- Negative counts

TEST(OutOfContract, NegativeAndZeroCountsQueueAndStoreNothing)
{
    Driver d(16, WriteModeQueue);
    VarItem request = item("D", 0, -5);
    EXPECT_EQ(d.driver.AddListOnceReadVar(request), 0);
    EXPECT_EQ(d.driver.SetRegisterData(QStringLiteral("D"), 0, 0, bytes({1, 0}), -3), 0);
    EXPECT_EQ(d.driver.SetRegisterData(QStringLiteral("M"), 0, 0, bytes({1}), 0), 0);
    QByteArray values = bytes({5, 5});
    d.driver.GetRegisterData(QStringLiteral("D"), 0, 0, values, -1);
    EXPECT_EQ(values, bytes({5, 5}));
    EXPECT_TRUE(d.driver.WriteVarList.isEmpty());
}

// A host variable of length -4 passes the rebuild as it comes and opens a
// block of -4 words; its read can never be answered (it expects a reply of
// -12 bytes), so it is given up every pass and nothing is decoded.
TEST(OutOfContract, ANegativeLengthBlockIsPolledButNeverDecoded)
{
    Driver d;
    ASSERT_EQ(d.driver.ReCreatReadVarList({hostVar("D", 10, -4)}), 1);
    EXPECT_EQ(d.driver.ReadVarList.first().Count, -4);
    RequestFrame* frame = d.driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->FrameBytes.size(), frame->SendLength);
    EXPECT_EQ(frame->ReplyLength, -12);
    const QByteArray sameLengthAsARealReply = fromHexBytes("02 31 32 33 34 03 43 44");
    EXPECT_EQ(d.driver.DataCom(sameLengthAsARealReply), ReplyWrongLength); // RetryLimit 0
    EXPECT_EQ(d.driver.Image.D[10], 0);
}

// ---- Indexes the host did not validate reach the line as computed

// D index -1 lies 2 bytes below D0's byte address 0x1000: the write goes
// to 0x0FFE, which is D8255 on the PLC. The module does not range-check
// write items; the host validates addresses with CheckAddrCorrect.
TEST(OutOfContract, ANegativeWriteIndexIsSentToTheAddressItComputesTo)
{
    Driver d;
    d.driver.AddListWriteVar(item("D", -1, 1, bytes({0x34, 0x12})));
    RequestFrame* frame = d.driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    // STX "1" "0FFE" "02" "3412" ETX, sum 0x31+0x30+0x46+0x46+0x45+0x30+0x32
    // +0x33+0x34+0x31+0x32+0x03 = 0x261: "61".
    EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 31 30 46 46 45 30 32 33 34 31 32 03 36 31"));
    EXPECT_EQ(d.driver.Image.SD[255], 0); // the image skips the index instead
}

// ---- Requests longer than the frame's byte count can carry

TEST(OutOfContract, WordWriteOfMoreThan127WordsGoesOutEmptyForThePlcToRefuse)
{
    Driver d;
    d.driver.AddListWriteVar(item("D", 0, 128, QByteArray(256, '\x11')));
    RequestFrame* frame = d.driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    // STX "1" "1000" "00" ETX, sum 0x31+0x31+0x30*3+0x30*2+0x03 = 0x155: "55".
    EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 31 31 30 30 30 30 30 03 35 35"));
    EXPECT_EQ(frame->SendLength, 11);
    EXPECT_EQ(frame->ReplyLength, 1);
}

TEST(OutOfContract, ReadOfMoreThan255BytesCarriesTheLowEightBitsOfTheCount)
{
    Driver d;
    d.driver.AddListReadVar(item("D", 0, 200)); // 400 bytes = 0x190
    RequestFrame* frame = d.driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    // STX "0" "1000" "90" ETX, sum 0x30+0x31+0x30*3+0x39+0x30+0x03 = 0x15D: "5D".
    EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 30 31 30 30 30 39 30 03 35 44"));
    EXPECT_EQ(frame->ReplyLength, 804); // a PLC answering 0x90 bytes is of the wrong length
    EXPECT_EQ(frame->DataChars, 800);
}

// ---- Huge counts stay bounded in time and memory

TEST(OutOfContract, HugeCountsStopAtTheListLimits)
{
    Driver d(1, WriteModeQueue);
    VarItem request = item("D", 0, Int32Max);
    EXPECT_EQ(d.driver.AddListOnceReadVar(request), PendingListLimit);
    EXPECT_EQ(d.driver.SetRegisterData(QStringLiteral("M"), 0, 0, QByteArray(), Int32Max),
              PendingListLimit);
    EXPECT_EQ(d.driver.WriteVarList.size(), PendingListLimit);
}

TEST(OutOfContract, AHugeHostVariableIsCutIntoNoMorePiecesThanItsTypeHolds)
{
    Driver d(1);
    // 8000 D words need 8000 pieces of one word; one more piece is allowed
    // for a start that is not the type's first register.
    EXPECT_EQ(d.driver.ReCreatReadVarList({hostVar("D", 0, Int32Max)}), 8001);
}

// ---- Hostile replies

struct HostileReply {
    const char* label;
    const char* reply; // spaced hex bytes
    qint32 result;
    quint16 d100;      // D100 afterwards (it starts at 0x5555)
};

void PrintTo(const HostileReply& row, std::ostream* os)
{
    *os << row.label;
}

class HostileReplies : public testing::TestWithParam<HostileReply> {};

// A read of D100 (one word, 2 bytes): the good reply is 8 bytes long.
TEST_P(HostileReplies, AreJudgedByLengthFramingAndSumAlone)
{
    Driver d;
    d.comInfo[ComInfoWord::RetryLimit] = 5;
    d.driver.Image.D[100] = 0x5555;
    d.driver.AddListReadVar(item("D", 100, 1));
    ASSERT_NE(d.driver.ComCommunication(), nullptr);
    EXPECT_EQ(d.driver.DataCom(fromHexBytes(GetParam().reply)), GetParam().result);
    EXPECT_EQ(d.driver.Image.D[100], GetParam().d100);
    EXPECT_EQ(d.driver.Image.D[99], 0);
    EXPECT_EQ(d.driver.Image.D[101], 0);
}

INSTANTIATE_TEST_SUITE_P(
    OutOfContract, HostileReplies,
    testing::Values(
        HostileReply{"AckToARead", "06", ReplyResend, 0x5555},
        HostileReply{"OneByteTooLong", "02 31 32 33 34 03 43 44 00", ReplyResend, 0x5555},
        HostileReply{"EtxMissing", "02 31 32 33 34 04 43 44", ReplyResend, 0x5555},
        HostileReply{"StxMissing", "00 31 32 33 34 03 43 44", ReplyResend, 0x5555},
        // Characters that are no hex digits decode by the reply rule: '~'
        // (126) gives (126 - 55) mod 16 = 7; sum 4 x 0x7E + 3 = 0x1FB: "FB".
        HostileReply{"NonHexCharacters", "02 7E 7E 7E 7E 03 46 42", ReplyAccepted, 0x7777},
        // Bytes above 127: 0xFF gives (255 - 55) mod 16 = 8; sum 0x3FF: "FF".
        HostileReply{"BytesAbove127", "02 FF FF FF FF 03 46 46", ReplyAccepted, 0x8888}),
    [](const auto& info) { return std::string(info.param.label); });

// A write answered with a whole data frame, then with a NAK, then nothing:
// each is a failure of its own kind, with the item's HostId as offset.
TEST(OutOfContract, AWriteAnsweredWithDataIsAWrongLength)
{
    Driver d;
    d.comInfo[ComInfoWord::RetryLimit] = 2;
    VarItem write = item("D", 100, 1, bytes({1, 0}));
    write.HostId = 3;
    d.driver.AddListWriteVar(write);
    ASSERT_NE(d.driver.ComCommunication(), nullptr);
    EXPECT_EQ(d.driver.DataCom(fromHexBytes("02 31 32 33 34 03 43 44")), ReplyResend);
    EXPECT_EQ(d.driver.DataCom(fromHexBytes("15")), ReplyResend);
    EXPECT_EQ(d.driver.DataCom(QByteArray()), ReplyMissing + 3);
}

} // namespace
