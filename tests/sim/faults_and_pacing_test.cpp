// The virtual PLC's faults, exact on an `every` schedule or reproducible
// from a seed, and its line timing, ten bits a character, half duplex.

#include "fault_injector.h"
#include "line_pacing.h"
#include "reply_schedule.h"
#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

namespace {

// The virtual PLC's answers to `count` ENQs, through the faults.
QByteArray answersToEnquiries(const FaultOptions& faults, int count)
{
    VirtualPlc plc(VirtualPlcOptions{64, false, faults}); // byte limit 64, no scan program
    return plc.receive(QByteArray(count, '\x05'));
}

TEST(FaultInjector, EveryNthReplyIsHitAndTheEarlierKindWins)
{
    FaultOptions faults;
    faults.rule(FaultKind::Drop).every = 2;
    faults.rule(FaultKind::Nak).every = 3;
    // Replies 2, 4, 6 dropped (6 also fires Nak: Drop comes first), 3 a NAK.
    EXPECT_EQ(answersToEnquiries(faults, 7), fromHexBytes("06 15 06 06"));
}

TEST(FaultInjector, SameSeedGivesTheSameFaults)
{
    FaultOptions faults; // seed 1
    for (FaultRule& rule : faults.rules)
        rule.probability = 0.1;
    const QByteArray first = answersToEnquiries(faults, 300);
    EXPECT_EQ(first, answersToEnquiries(faults, 300));
    faults.seed = 2;
    EXPECT_NE(first, answersToEnquiries(faults, 300));
}

struct ShapeRow {
    const char* name;
    FaultKind kind;
    const char* reply;
    const char* faulted;
    qint64 extraDelayUs;
};

const ShapeRow kShapes[] = {
    {"DropData", FaultKind::Drop, "02 33 34 31 32 03 43 44", "", 0},
    {"NakForAck", FaultKind::Nak, "06", "15", 0},
    {"TruncateDataToHalf", FaultKind::Truncate, "02 33 34 31 32 03 43 44", "02 33 34 31", 0},
    {"TruncateAckToNothing", FaultKind::Truncate, "06", "", 0},
    {"CorruptAckFlipsItsLowBit", FaultKind::Corrupt, "06", "07", 0},
    {"DelayKeepsBytes", FaultKind::Delay, "06", "06", 5000},
};

TEST(FaultInjector, ChangesTheReplyAsALineFaultWould)
{
    for (const ShapeRow& row : kShapes) {
        FaultOptions options;
        options.rule(row.kind).every = 1;
        options.delayUs = 5000;
        FaultInjector injector(options);
        const FaultedReply out = injector.apply(fromHexBytes(row.reply));
        EXPECT_EQ(out.fault, row.kind) << row.name;
        EXPECT_EQ(out.bytes, fromHexBytes(row.faulted)) << row.name;
        EXPECT_EQ(out.extraDelayUs, row.extraDelayUs) << row.name;
        EXPECT_EQ(injector.injected(row.kind), 1u) << row.name;
    }
}

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
