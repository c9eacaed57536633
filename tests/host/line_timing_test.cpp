// Reply timeouts that follow the line, and the collection of a reply up to
// the length its request expects.

#include "line_timing.h"
#include "reply_collector.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct TimeoutRow {
    const char* name;
    qint64 sent;
    qint64 reply;
    qint64 baud;
    int allowance;
    int timeoutMs;
};

// 10 bits a character: 19 characters at 9600 baud take 19.79 ms.
const TimeoutRow kTimeoutRows[] = {
    {"OneWordAt9600", 11, 8, 9600, 200, 20 + 200},
    {"SixtyFourBytesAt9600", 11, 132, 9600, 0, 149},     // 143 characters: 148.96 ms
    {"OneWordAt115200", 11, 8, 115200, 10, 2 + 10},      // 1.65 ms rounds up
    {"ForceAt4800", 9, 1, 4800, 50, 21 + 50},            // 10 characters: 20.83 ms
    {"UnknownBaudLeavesTheAllowance", 11, 8, 0, 200, 200},
};

class ReplyTimeout : public ::testing::TestWithParam<TimeoutRow> {};

TEST_P(ReplyTimeout, IsLineTimePlusAllowance)
{
    const TimeoutRow& row = GetParam();
    EXPECT_EQ(LineTiming::replyTimeoutMs(row.sent, row.reply, row.baud, row.allowance), row.timeoutMs);
}

INSTANTIATE_TEST_SUITE_P(Lines, ReplyTimeout, ::testing::ValuesIn(kTimeoutRows),
                         [](const ::testing::TestParamInfo<TimeoutRow>& info) { return std::string(info.param.name); });

TEST(LineTiming, WireTimeCountsTenBitsACharacter)
{
    EXPECT_EQ(LineTiming::wireTimeUs(96, 9600), 100000); // 960 bits
    EXPECT_EQ(LineTiming::wireTimeUs(-5, 9600), 0);
    EXPECT_EQ(LineTiming::wireTimeUs(5, 0), 0);
}

TEST(ReplyCollector, TakesExactlyTheExpectedLengthFromPieces)
{
    ReplyCollector collector(8);
    collector.take(fromHexBytes("02 31 32"));
    EXPECT_EQ(collector.missing(), 5);
    collector.take(fromHexBytes("33 34 03 43 44 06 06")); // a stray surplus after the sum
    EXPECT_TRUE(collector.isComplete());
    EXPECT_EQ(collector.reply(), fromHexBytes("02 31 32 33 34 03 43 44"));
}

TEST(ReplyCollector, LoneNakOrAckEndsAMultiByteReply)
{
    ReplyCollector nak(8);
    nak.take(fromHexBytes("15 02 31"));
    EXPECT_TRUE(nak.isComplete());
    EXPECT_EQ(nak.reply(), fromHexBytes("15"));
    ReplyCollector ack(12);
    ack.take(fromHexBytes("06"));
    EXPECT_TRUE(ack.isComplete());
}

TEST(ReplyCollector, GarbageKeepsCollectingToTheLength)
{
    ReplyCollector collector(4);
    collector.take(fromHexBytes("41 42"));
    EXPECT_EQ(collector.missing(), 2);
    ReplyCollector nothing(0);
    EXPECT_TRUE(nothing.isComplete());
    nothing.take(fromHexBytes("06"));
    EXPECT_TRUE(nothing.reply().isEmpty());
}

} // namespace
