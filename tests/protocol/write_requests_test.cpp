// Write requests: forces, block writes and the D_bit read-before-write pair,
// byte-exact against the protocol's worked examples (sums by hand), with the
// transaction counters and the image update at build time.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

class WriteRequests : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.SetComInfo(comInfo);
        comInfo[ComInfoWord::FramesQueued] = 77; // junk: the builder must set both
        comInfo[ComInfoWord::FramesAnswered] = 55;
    }
    static VarItem item(const char* regName, qint32 addr, qint32 count, const char* data)
    {
        VarItem it;
        it.RegName = QString::fromLatin1(regName);
        it.Addr = addr;
        it.Count = count;
        it.OpKind = OpKindWrite;
        it.HostId = 4;
        it.Data = fromHexBytes(data);
        return it;
    }
    bool imageIsZero() const
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&driver.Image);
        for (size_t i = 0; i < sizeof(driver.Image); ++i) {
            if (bytes[i] != 0)
                return false;
        }
        return true;
    }

    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

struct WriteRow {
    const char* name;
    const char* regName;
    qint32 addr;
    qint32 count;
    const char* data;
    const char* frame;
};

// clang-format off
const WriteRow kWriteRows[] = {
    {"ForceOnY0",          "Y",    0,   1, "01",          "02 37 30 30 30 35 03 46 46"},
    {"ForceOffY0",         "Y",    0,   1, "00",          "02 38 30 30 30 35 03 30 30"},
    {"ForceOnM100",        "M",    100, 1, "01",          "02 37 36 34 30 38 03 30 43"},
    {"ForceOnY5",          "Y",    5,   1, "01",          "02 37 30 35 30 35 03 30 34"},
    {"Y5ValueTwoIsOff",    "Y",    5,   1, "02",          "02 38 30 35 30 35 03 30 35"},
    {"Y5EmptyDataIsOff",   "Y",    5,   1, "",            "02 38 30 35 30 35 03 30 35"},
    {"ForceOnM8002",       "SM",   2,   1, "01",          "02 37 30 32 30 46 03 31 32"},
    {"D100Word1234",       "D",    100, 1, "34 12",       "02 31 31 30 43 38 30 32 33 34 31 32 03 33 43"},
    {"C200DoubleWord",     "32CV", 0,   2, "78 56 34 12", "02 31 30 43 30 30 30 34 37 38 35 36 33 34 31 32 03 30 46"},
    {"D200OneD201Minus1",  "D",    200, 2, "01 00 FF FF", "02 31 31 31 39 30 30 34 30 31 30 30 46 46 46 46 03 33 43"},
    {"D8000Ten",           "SD",   0,   1, "0A 00",       "02 31 30 45 30 30 30 32 30 41 30 30 03 33 43"},
    // Data shorter than 2 x Count: zero bytes are sent for the missing ones.
    {"ShortDataZeroPadded","D",    100, 2, "34 12",       "02 31 31 30 43 38 30 34 33 34 31 32 30 30 30 30 03 46 45"},
    // Count outside 0..127: count "00" and no data, which the PLC refuses.
    {"CountMinus1NoData",  "D",    0,   -1,  "01 02",     "02 31 31 30 30 30 30 30 03 35 35"},
};
// clang-format on

class WriteFrames : public WriteRequests, public ::testing::WithParamInterface<WriteRow> {};

TEST_P(WriteFrames, BuildsTheWorkedFrameAnsweredByAck)
{
    const WriteRow& row = GetParam();
    driver.BuildWriteRequest(item(row.regName, row.addr, row.count, row.data));

    ASSERT_EQ(driver.FrameQueue.size(), 1);
    const RequestFrame& frame = driver.FrameQueue.first();
    const QByteArray expected = fromHexBytes(row.frame);
    EXPECT_EQ(frame.FrameBytes, expected);
    EXPECT_EQ(frame.SendLength, expected.size());
    EXPECT_EQ(frame.ReplyLength, 1);
    EXPECT_EQ(frame.DataStart, 0);
    EXPECT_EQ(frame.DataChars, 0);
    EXPECT_EQ(frame.Item.HostId, 4);
    EXPECT_EQ(frame.Item.Data, fromHexBytes(row.data));
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 1);
    EXPECT_EQ(comInfo[ComInfoWord::FramesAnswered], 0);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, WriteFrames, ::testing::ValuesIn(kWriteRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WriteRequests, SettingBit3OfD10QueuesTheReadAndThePlaceholderWrite)
{
    driver.BuildWriteRequest(item("D_bit", 163, 1, "01"));

    ASSERT_EQ(driver.FrameQueue.size(), 2);
    const RequestFrame& read = driver.FrameQueue.at(0);
    EXPECT_EQ(read.FrameBytes, fromHexBytes("02 30 31 30 31 34 30 32 03 35 42"));
    EXPECT_EQ(read.SendLength, 11);
    EXPECT_EQ(read.ReplyLength, 8);
    EXPECT_EQ(read.DataStart, 1);
    EXPECT_EQ(read.DataChars, 4);
    EXPECT_EQ(read.Item.OpKind, OpKindReadBeforeWrite);
    EXPECT_EQ(read.Item.Addr, 10);

    const RequestFrame& write = driver.FrameQueue.at(1);
    EXPECT_EQ(write.FrameBytes, fromHexBytes("02 31 31 30 31 34 30 32 30 30 30 30 03 30 30"));
    EXPECT_EQ(write.SendLength, 15);
    EXPECT_EQ(write.ReplyLength, 1);
    EXPECT_EQ(write.DataStart, 0);
    EXPECT_EQ(write.DataChars, 0);
    EXPECT_EQ(write.Item.OpKind, OpKindWrite);
    EXPECT_EQ(write.Item.Addr, 163);

    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 2);
    EXPECT_EQ(comInfo[ComInfoWord::FramesAnswered], 0);
    EXPECT_TRUE(imageIsZero()); // a D_bit write shows at the next read of its word
}

// The read's reply completes the write: bytes 8..11 the new word, low byte
// first, 13..14 the new sum.
TEST_F(WriteRequests, ReplyToThePairReadCompletesTheWrite)
{
    struct Row {
        const char* name;
        const char* value; // first Data byte of the write item
        const char* reply; // the PLC's answer to the read of D10
        const char* write; // the write as it then goes out
        quint16 imageWord; // D10 in the image afterwards: the word as read
    };
    const Row rows[] = {
        {"SetBit3OfZero", "01", "02 30 30 30 30 03 43 33",
         "02 31 31 30 31 34 30 32 30 38 30 30 03 32 34", 0x0000},
        {"ClearBit3OfFFFF", "00", "02 46 46 46 46 03 31 42",
         "02 31 31 30 31 34 30 32 46 37 46 46 03 36 35", 0xFFFF},
        {"ValueTwoKeepsTheWord", "02", "02 46 46 46 46 03 31 42",
         "02 31 31 30 31 34 30 32 46 46 46 46 03 37 34", 0xFFFF},
    };
    for (const Row& row : rows) {
        Tavrin fresh;
        qint32 block[ComInfoWord::Count] = {};
        fresh.SetComInfo(block);
        const VarItem write = item("D_bit", 163, 1, row.value);
        fresh.WriteVarList.append(write);
        fresh.BuildWriteRequest(write);

        EXPECT_EQ(fresh.ValidateReply(fromHexBytes(row.reply), 8), ReplyAccepted) << row.name;
        ASSERT_EQ(fresh.FrameQueue.size(), 2) << row.name; // removing frames is the cycle's
        EXPECT_EQ(fresh.FrameQueue.at(1).FrameBytes, fromHexBytes(row.write)) << row.name;
        EXPECT_EQ(fresh.FrameQueue.at(1).SendLength, 15) << row.name;
        EXPECT_EQ(fresh.Image.D[10], row.imageWord) << row.name;
    }
}

TEST_F(WriteRequests, XBuildsNothingButTheImageTakesItsValue)
{
    driver.BuildWriteRequest(item("X", 9, 1, "01"));
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
    EXPECT_EQ(driver.Image.X[1], 0x02); // X11 octal: index 9, byte 1, bit 1
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 77);
}

TEST_F(WriteRequests, ForcesAndWordWritesUpdateTheImageWhenBuilt)
{
    driver.BuildWriteRequest(item("Y", 5, 1, "01"));
    driver.BuildWriteRequest(item("D", 200, 2, "01 00 FF FF"));
    EXPECT_EQ(driver.Image.Y[0], 0x20);
    EXPECT_EQ(driver.Image.D[200], 1);
    EXPECT_EQ(driver.Image.D[201], 0xFFFF);
}

TEST_F(WriteRequests, WithCommFailedSetFramesAreBuiltButTheImageIsLeftAlone)
{
    driver.CommFailed = 1;
    driver.BuildWriteRequest(item("D", 100, 1, "34 12"));
    driver.BuildWriteRequest(item("X", 0, 1, "01"));
    ASSERT_EQ(driver.FrameQueue.size(), 1);
    EXPECT_EQ(driver.FrameQueue.first().FrameBytes,
              fromHexBytes("02 31 31 30 43 38 30 32 33 34 31 32 03 33 43"));
    EXPECT_TRUE(imageIsZero());
}

TEST_F(WriteRequests, NamesDifferingOnlyInCaseBuildNothingAndStoreNothing)
{
    for (const char* name : {"y", "d", "D_BIT", "32cv", "Sm", "Q", ""})
        driver.BuildWriteRequest(item(name, 0, 1, "01 00"));
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
    EXPECT_TRUE(imageIsZero());
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 77);
}

} // namespace
