// Line timing as arithmetic: ten bits a character, and the half-duplex
// schedule by which the paced line adapters send their replies.

#include "line_pacing.h"
#include "reply_schedule.h"

#include <gtest/gtest.h>

namespace {

TEST(LinePacing, TenBitsACharacterRoundedToTheNearestNanosecond)
{
    LinePacing pacing;
    EXPECT_EQ(pacing.transmitTimeNs(1000), 0); // unpaced
    pacing.baudRate = 9600;
    // A 64-byte read: 11 + 132 characters x 10 bits / 9600 baud = 148958333.3 ns.
    EXPECT_EQ(pacing.transmitTimeNs(11 + 132), 148958333);
    EXPECT_EQ(pacing.transmitTimeNs(1), 1041667); // 1041666.7 ns
}

TEST(ReplySchedule, RepliesLeaveOneAfterTheOtherWhenDue)
{
    LinePacing pacing;
    pacing.baudRate = 10000;       // 1 ms a character
    pacing.responseDelayUs = 1000; // 1 ms answer delay
    ReplySchedule schedule(pacing);
    const QByteArray ack("\x06", 1);
    // Arrived together at t = 0: a read of 11 characters whose reply is dropped
    // with a 3 ms fault delay, and two forces of 9. The dropped reply sends
    // nothing but holds the line 11 + 1 + 3 = 15 ms; each ACK is due
    // 9 + 1 + 1 = 11 ms after the line is free: at 26 ms, then at 37 ms.
    schedule.add({PlcReply{QByteArray(), 11, 3000}, PlcReply{ack, 9, 0}, PlcReply{ack, 9, 0}}, 0);
    EXPECT_EQ(schedule.nextDueNs(-1), 26000000);
    EXPECT_TRUE(schedule.takeDue(25999999).isEmpty());
    EXPECT_EQ(schedule.takeDue(26000000), ack);
    EXPECT_EQ(schedule.nextDueNs(-1), 37000000);
    EXPECT_EQ(schedule.takeDue(40000000), ack);
    EXPECT_TRUE(schedule.isEmpty());
}

} // namespace
