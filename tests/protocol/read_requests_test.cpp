// Block read requests: byte-exact frames from the protocol's worked examples
// (sums computed by hand), the reply shape each frame expects, and the
// transaction counters.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

class ReadRequests : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.SetComInfo(comInfo);
        comInfo[ComInfoWord::FramesQueued] = 77; // junk: the builder must set both
        comInfo[ComInfoWord::FramesAnswered] = 55;
    }
    static VarItem item(const char* regName, qint32 addr, qint32 count)
    {
        VarItem it;
        it.RegName = QString::fromLatin1(regName);
        it.Addr = addr;
        it.Count = count;
        it.HostId = 7;
        it.AddrText = QStringLiteral("kept");
        return it;
    }

    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

struct ReadRow {
    const char* name;
    const char* regName;
    qint32 addr;
    qint32 count;
    const char* frame; // as on the line, hex bytes
    qint32 replyLength;
    qint32 dataChars;
};

// clang-format off
const ReadRow kReadRows[] = {
    {"D100_OneWord",       "D",     100, 1, "02 30 31 30 43 38 30 32 03 37 31", 8,  4},
    {"X0ToX7_OneByte",     "X",     0,   1, "02 30 30 30 38 30 30 31 03 35 43", 6,  2},
    {"D0AndD1",            "D",     0,   2, "02 30 31 30 30 30 30 34 03 35 38", 12, 8},
    {"X20ToX37_TwoBytes",  "X",     16,  2, "02 30 30 30 38 32 30 32 03 35 46", 8,  4},
    {"SM8000",             "SM",    0,   1, "02 30 30 31 45 30 30 31 03 36 41", 6,  2},
    {"T8",                 "T",     8,   1, "02 30 30 30 43 31 30 31 03 36 38", 6,  2},
    {"DBitWordOfD5",       "D_bit", 5,   1, "02 30 31 30 30 41 30 32 03 36 37", 8,  4},
    {"TV10_ThreeWords",    "TV",    10,  3, "02 30 30 38 31 34 30 36 03 36 36", 16, 12},
    {"C203_OneCounter",    "32CV",  3,   2, "02 30 30 43 30 43 30 34 03 37 44", 12, 8},
    {"C200_CountOneNoData","32CV",  0,   1, "02 30 30 43 30 30 30 30 03 36 36", 4,  0},
};
// clang-format on

class ReadFrames : public ReadRequests, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(ReadFrames, BuildsTheWorkedFrameWithItsReplyShape)
{
    const ReadRow& row = GetParam();
    const VarItem request = item(row.regName, row.addr, row.count);
    driver.BuildReadRequest(request);

    ASSERT_EQ(driver.FrameQueue.size(), 1);
    const RequestFrame& frame = driver.FrameQueue.first();
    EXPECT_EQ(frame.FrameBytes, fromHexBytes(row.frame));
    EXPECT_EQ(frame.SendLength, 11);
    EXPECT_EQ(frame.ReplyLength, row.replyLength);
    EXPECT_EQ(frame.DataStart, 1);
    EXPECT_EQ(frame.DataChars, row.dataChars);
    EXPECT_EQ(frame.Item.HostId, 7);
    EXPECT_EQ(frame.Item.Addr, row.addr);
    EXPECT_EQ(frame.Item.AddrText, QStringLiteral("kept"));
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 1);
    EXPECT_EQ(comInfo[ComInfoWord::FramesAnswered], 0);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, ReadFrames, ::testing::ValuesIn(kReadRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadRequests, NamesDifferingOnlyInCaseBuildNothingAndLeaveTheCountersAlone)
{
    for (const char* name : {"x", "D_BIT", "d_bit", "sm", "32cv", "Q", "", "D "})
        driver.BuildReadRequest(item(name, 0, 1));
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
    EXPECT_EQ(comInfo[ComInfoWord::FramesQueued], 77);
    EXPECT_EQ(comInfo[ComInfoWord::FramesAnswered], 55);
}

TEST_F(ReadRequests, EachBuildAppendsOneFrameBehindTheOthers)
{
    driver.BuildReadRequest(item("D", 0, 2));
    driver.BuildReadRequest(item("D", 100, 1));
    ASSERT_EQ(driver.FrameQueue.size(), 2);
    EXPECT_EQ(driver.FrameQueue.at(1).FrameBytes, fromHexBytes("02 30 31 30 43 38 30 32 03 37 31"));
}

// Out-of-contract items: only the low 16 bits of the address and the low 8
// bits of the count go on the line; the reply shape saturates, never wraps.
TEST_F(ReadRequests, OutOfContractItemsKeepLowBitsAndSaturateLengths)
{
    driver.BuildReadRequest(item("D", -1, 200)); // 0x1000 - 2 = 0x0FFE; 400 bytes = 0x190
    const RequestFrame& low = driver.FrameQueue.first();
    EXPECT_EQ(low.FrameBytes.mid(2, 6), QByteArray("0FFE90"));
    EXPECT_EQ(low.ReplyLength, 804);
    EXPECT_EQ(low.DataChars, 800);

    constexpr qint32 kMax = std::numeric_limits<qint32>::max();
    constexpr qint32 kMin = std::numeric_limits<qint32>::min();
    driver.FrameQueue.clear();
    driver.BuildReadRequest(item("32CV", kMax, kMax));
    EXPECT_EQ(driver.FrameQueue.first().ReplyLength, kMax);
    EXPECT_EQ(driver.FrameQueue.first().DataChars, kMax);
    EXPECT_EQ(driver.FrameQueue.first().SendLength, 11);

    driver.FrameQueue.clear();
    driver.BuildReadRequest(item("M", kMin, kMin));
    EXPECT_EQ(driver.FrameQueue.first().ReplyLength, kMin);
    EXPECT_EQ(driver.FrameQueue.first().FrameBytes.size(), 11);
}

} // namespace
