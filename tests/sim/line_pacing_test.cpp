// Line timing as arithmetic: character times, exchange times, the reply
// schedule of the paced adapters and the in-process line's reported time.

#include "in_process_line.h"
#include "line_pacing.h"
#include "reply_schedule.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct CharacterTimeRow {
    const char* name;
    qint32 baud;
    qint64 characters;
    qint64 nanoseconds; // characters x 10 bits / baud, rounded to the nearest ns
};

void PrintTo(const CharacterTimeRow& row, std::ostream* os)
{
    *os << row.name;
}

const CharacterTimeRow kCharacterTimes[] = {
    {"OneAt9600", 9600, 1, 1041667},
    {"OneAt19200", 19200, 1, 520833},
    {"OneAt38400", 38400, 1, 260417},
    {"OneAt115200", 115200, 1, 86806},
    {"Read64BytesAt9600", 9600, 11 + 132, 148958333},
    {"HundredRegistersAt9600", 9600, 15 * 4 + 4 * 100, 479166667}, // 4 frames: about 0.48 s
    {"Unpaced", 0, 1000, 0},
    {"NegativeBaud", -9600, 1000, 0},
    {"NegativeCount", 9600, -5, 0},
};

class CharacterTime : public ::testing::TestWithParam<CharacterTimeRow> {};

TEST_P(CharacterTime, FollowsTenBitsPerCharacter)
{
    const CharacterTimeRow& row = GetParam();
    LinePacing pacing;
    pacing.baudRate = row.baud;
    EXPECT_EQ(pacing.transmitTimeNs(row.characters), row.nanoseconds);
}

INSTANTIATE_TEST_SUITE_P(LinePacing, CharacterTime, ::testing::ValuesIn(kCharacterTimes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LinePacing, ExchangeAddsAnswerDelayAndFaultDelay)
{
    LinePacing pacing;
    pacing.baudRate = 9600;
    pacing.responseDelayUs = 5000;
    // 11 characters: 11458333 ns, 8 characters: 8333333 ns (each rounded), + 5 ms + 2 ms.
    EXPECT_EQ(pacing.exchangeTimeNs(11, 8, 2000), 11458333 + 8333333 + 5000000 + 2000000);
    EXPECT_EQ(pacing.exchangeTimeNs(0, 0, -7), 5000000); // a negative delay counts as none
}

TEST(ReplySchedule, RepliesLeaveOneAfterTheOtherWhenDue)
{
    LinePacing pacing;
    pacing.baudRate = 10000; // 1 ms a character
    ReplySchedule schedule(pacing);
    const QByteArray ack("\x06", 1);
    // Two force requests of 9 characters that arrived together at t = 0:
    // the first ACK is due at 9 + 1 = 10 ms, the second 10 ms after it.
    schedule.add({PlcReply{ack, 9, 0}, PlcReply{ack, 9, 0}}, 0);
    EXPECT_EQ(schedule.nextDueNs(-1), 10000000);
    EXPECT_TRUE(schedule.takeDue(9999999).isEmpty());
    EXPECT_EQ(schedule.takeDue(10000000), ack);
    EXPECT_EQ(schedule.nextDueNs(-1), 20000000);
    EXPECT_EQ(schedule.takeDue(30000000), ack);
    EXPECT_TRUE(schedule.isEmpty());
    EXPECT_EQ(schedule.nextDueNs(-1), -1);
}

TEST(ReplySchedule, DroppedReplySendsNothingButHoldsTheLine)
{
    LinePacing pacing;
    pacing.baudRate = 10000;
    ReplySchedule schedule(pacing);
    schedule.add({PlcReply{QByteArray(), 11, 3000}, PlcReply{QByteArray("\x06", 1), 9, 0}}, 0);
    // Dropped: 11 ms + 3 ms fault delay; then the ACK: 9 + 1 ms after that.
    EXPECT_EQ(schedule.nextDueNs(-1), 24000000);
}

TEST(InProcessLine, ReturnsTheReplyAndItsLineTime)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    LinePacing pacing;
    pacing.baudRate = 10000;
    pacing.responseDelayUs = 4000;
    InProcessLine line(plc, pacing);
    const InProcessExchange read = line.exchange(fromHexBytes("02 30 31 30 43 38 30 32 03 37 31"));
    EXPECT_EQ(read.reply, fromHexBytes("02 33 34 31 32 03 43 44"));
    EXPECT_EQ(read.lineTimeNs, (11 + 4 + 8) * 1000000LL); // 11 + 8 characters, 4 ms answer delay
    const InProcessExchange noise = line.exchange(fromHexBytes("41 42"));
    EXPECT_TRUE(noise.reply.isEmpty());
    EXPECT_EQ(noise.lineTimeNs, 2000000);
    EXPECT_EQ(line.totalLineTimeNs(), 25000000);
}

} // namespace
