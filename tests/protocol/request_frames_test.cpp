// Request frames byte for byte. Every frame and sum is worked by hand from
// the programming-port rules: the sum is the low 8 bits of the bytes after
// STX through ETX ("0" "10C8" "02" ETX: 0x30+0x31+0x30+0x43+0x38+0x30+0x32
// +0x03 = 0x171, sum "71"). Read and write addresses go most significant
// digit first, force bit addresses low byte first.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr const char* kRead = nullptr; // a row without data builds a read

// data: kRead, or the write item's Data.
// clang-format off
struct FrameRow { const char *name, *reg; qint32 addr, count; const char *data, *frame; qint32 replyLength; };
// clang-format on

class RequestFrames : public ::testing::TestWithParam<FrameRow> {
protected:
    void SetUp() override
    {
        driver.SetComInfo(comInfo);
        comInfo[ComInfoWord::FramesQueued] = 77; // junk: every build sets both words
        comInfo[ComInfoWord::FramesAnswered] = 55;
    }
    void build(const char* reg, qint32 addr, qint32 count, const char* data = kRead)
    {
        VarItem it;
        it.RegName = QString::fromLatin1(reg);
        it.Addr = addr;
        it.Count = count;
        it.HostId = 7;
        it.Data = fromHexBytes(data ? data : "");
        data ? driver.BuildWriteRequest(it) : driver.BuildReadRequest(it);
    }
    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

TEST_P(RequestFrames, AreByteExactWithTheirReplyShape)
{
    const FrameRow& r = GetParam();
    build(r.reg, r.addr, r.count, r.data);
    ASSERT_EQ(driver.FrameQueue.size(), 1);
    const RequestFrame& f = driver.FrameQueue.first();
    EXPECT_EQ(f.FrameBytes, fromHexBytes(r.frame));
    EXPECT_EQ(f.SendLength, f.FrameBytes.size());
    EXPECT_EQ(f.ReplyLength, r.replyLength);
    EXPECT_EQ(f.DataStart, r.data ? 0 : 1);
    EXPECT_EQ(f.DataChars, r.data ? 0 : r.replyLength - 4);
    EXPECT_EQ(f.Item.HostId, 7);
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 1);
    EXPECT_EQ(comInfo[ComInfoWord::FramesAnswered], 0);
}

const auto rowName = [](const auto& info) { return std::string(info.param.name); };

// clang-format off
INSTANTIATE_TEST_SUITE_P(WordReads, RequestFrames, ::testing::Values(
    FrameRow{"D100",             "D",     100,   1,   kRead, "02 30 31 30 43 38 30 32 03 37 31", 8},
    FrameRow{"DBitWordD5",       "D_bit", 5,     1,   kRead, "02 30 31 30 30 41 30 32 03 36 37", 8},
    FrameRow{"C203OneCounter",   "32CV",  3,     2,   kRead, "02 30 30 43 30 43 30 34 03 37 44", 12},
    FrameRow{"CV32CountOneNoData", "32CV", 0,    1,   kRead, "02 30 30 43 30 30 30 30 03 36 36", 4},
    // 400 bytes = 0x190: the count field carries "90", the reply shape all 400.
    FrameRow{"CountLow8Bits",    "D",     0,     200, kRead, "02 30 31 30 30 30 39 30 03 35 44", 804},
    // 0x1000 + 2 x 32000 = 0x10A00: only "0A00" goes on the line.
    FrameRow{"AddressLow16Bits", "D",     32000, 1,   kRead, "02 30 30 41 30 30 30 32 03 36 36", 8}), rowName);

INSTANTIATE_TEST_SUITE_P(BitReads, RequestFrames, ::testing::Values(
    FrameRow{"X0ToX7",           "X",  0,  1,   kRead, "02 30 30 30 38 30 30 31 03 35 43", 6},
    FrameRow{"SM8000",           "SM", 0,  1,   kRead, "02 30 30 31 45 30 30 31 03 36 41", 6},
    FrameRow{"Y13RoundsDown",    "Y",  13, 1,   kRead, "02 30 30 30 41 31 30 31 03 36 36", 6}), rowName);

INSTANTIATE_TEST_SUITE_P(Forces, RequestFrames, ::testing::Values(
    FrameRow{"OnY0",             "Y",  0,   1, "01", "02 37 30 30 30 35 03 46 46", 1},
    FrameRow{"OffY0SumIs0x100",  "Y",  0,   1, "00", "02 38 30 30 30 35 03 30 30", 1},
    FrameRow{"OnM100",           "M",  100, 1, "01", "02 37 36 34 30 38 03 30 43", 1},
    FrameRow{"ValueTwoIsOff",    "Y",  5,   1, "02", "02 38 30 35 30 35 03 30 35", 1},
    FrameRow{"EmptyDataIsOff",   "Y",  5,   1, "",   "02 38 30 35 30 35 03 30 35", 1}), rowName);

INSTANTIATE_TEST_SUITE_P(BlockWrites, RequestFrames, ::testing::Values(
    FrameRow{"D100Word1234",     "D",    100, 1, "34 12", "02 31 31 30 43 38 30 32 33 34 31 32 03 33 43", 1},
    FrameRow{"C200DoubleWord",   "32CV", 0,   2, "78 56 34 12", "02 31 30 43 30 30 30 34 37 38 35 36 33 34 31 32 03 30 46", 1},
    FrameRow{"D200OneD201Minus1", "D",   200, 2, "01 00 FF FF", "02 31 31 31 39 30 30 34 30 31 30 30 46 46 46 46 03 33 43", 1},
    FrameRow{"ShortDataZeroPadded", "D", 100, 2, "34 12", "02 31 31 30 43 38 30 34 33 34 31 32 30 30 30 30 03 46 45", 1},
    // 128 words (256 bytes) do not fit the count field: count "00", no data, refused by the PLC.
    FrameRow{"Count128GoesOutEmpty", "D", 0,  128, "11",  "02 31 31 30 30 30 30 30 03 35 35", 1}), rowName);
// clang-format on

// Bit 3 of D10 (D_bit 163): the read of D10, then the write placeholder
// "0000" with sum "00" that the read's reply completes.
TEST_F(RequestFrames, DBitWriteQueuesTheReadAndThePlaceholderWrite)
{
    build("D_bit", 163, 1, "01");
    ASSERT_EQ(driver.FrameQueue.size(), 2);
    const RequestFrame &read = driver.FrameQueue.at(0), &write = driver.FrameQueue.at(1);
    EXPECT_EQ(read.FrameBytes, fromHexBytes("02 30 31 30 31 34 30 32 03 35 42"));
    EXPECT_EQ(read.ReplyLength, 8);
    EXPECT_EQ(read.Item.OpKind, OpKindReadBeforeWrite);
    EXPECT_EQ(read.Item.Addr, 10);
    EXPECT_EQ(write.FrameBytes, fromHexBytes("02 31 31 30 31 34 30 32 30 30 30 30 03 30 30"));
    EXPECT_EQ(write.Item.OpKind, OpKindWrite);
    EXPECT_EQ(write.Item.Addr, 163);
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 2);
    EXPECT_EQ(driver.Image.D[10], 0); // a D_bit write shows at the next read of its word
}

TEST_F(RequestFrames, BlockLimitsOfTheCountField)
{
    build("D", 0, 127, ""); // 254 bytes, the most a write can carry: "FE", zero-padded
    EXPECT_EQ(driver.FrameQueue.at(0).FrameBytes.mid(6, 2), QByteArray("FE"));
    EXPECT_EQ(driver.FrameQueue.at(0).SendLength, 4 * 127 + 11);
    // A read of 4 x Count - 4 bytes for Count 2^31 - 1: the reply shape saturates, never wraps.
    build("32CV", 0, std::numeric_limits<qint32>::max());
    EXPECT_EQ(driver.FrameQueue.at(1).ReplyLength, std::numeric_limits<qint32>::max());
}

// Writes show in the image when built (X only there, it has no request); while
// the PLC is not answering, frames are built and the image is left alone.
TEST_F(RequestFrames, ImageTakesTheWrittenValueAtBuildUnlessCommFailed)
{
    build("D", 200, 2, "01 00 FF FF");
    build("X", 9, 1, "01"); // X11 octal: byte 1, bit 1
    EXPECT_EQ(driver.Image.D[201], 0xFFFF);
    EXPECT_EQ(driver.Image.X[1], 0x02);
    driver.CommFailed = 1;
    build("D", 100, 1, "34 12");
    EXPECT_EQ(driver.FrameQueue.size(), 2); // X built nothing
    EXPECT_EQ(driver.Image.D[100], 0);
}

TEST_F(RequestFrames, NamesDifferingOnlyInCaseBuildNothing)
{
    for (const char* data : {kRead, "01 00"})
        for (const char* name : {"x", "y", "D_BIT", "d_bit", "32cv", "Sm", "Q", ""})
            build(name, 0, 1, data);
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 77);
}

} // namespace
