// Fault injection: reproducible from a seed, exact on a schedule, and each
// fault shaped as a line or PLC fault looks to a host.

#include "fault_injector.h"
#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Outcome per reply: -1 for none, else the FaultKind.
std::vector<int> faultSequence(const FaultOptions& options, int replies)
{
    FaultInjector injector(options);
    std::vector<int> sequence;
    for (int i = 0; i < replies; ++i) {
        const FaultedReply reply = injector.apply(QByteArray("\x02" "1234\x03" "CD"));
        sequence.push_back(reply.faulted ? static_cast<int>(reply.fault) : -1);
    }
    return sequence;
}

FaultOptions mixedFaults(quint32 seed)
{
    FaultOptions options;
    options.seed = seed;
    for (FaultRule& rule : options.rules)
        rule.probability = 0.1;
    return options;
}

TEST(FaultInjector, SameSeedGivesTheSameSequence)
{
    const std::vector<int> first = faultSequence(mixedFaults(42), 500);
    EXPECT_EQ(first, faultSequence(mixedFaults(42), 500));
    EXPECT_NE(first, faultSequence(mixedFaults(43), 500));
    // p = 0.1 for five kinds: about 41% of 500 replies faulted; every kind occurs.
    std::vector<int> perKind(FaultKindCount, 0);
    int faulted = 0;
    for (int outcome : first) {
        if (outcome >= 0) {
            ++perKind[static_cast<size_t>(outcome)];
            ++faulted;
        }
    }
    EXPECT_GT(faulted, 150);
    EXPECT_LT(faulted, 260);
    for (int n : perKind)
        EXPECT_GT(n, 0);
}

TEST(FaultInjector, SameSeedCorruptsTheSameCharacters)
{
    FaultOptions options;
    options.seed = 9;
    options.rule(FaultKind::Corrupt).every = 1;
    FaultInjector a(options);
    FaultInjector b(options);
    const QByteArray reply("\x02" "0100FFFF\x03" "DC");
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(a.apply(reply).bytes, b.apply(reply).bytes) << "reply " << i;
}

TEST(FaultInjector, ScheduleHitsExactlyEveryNthReply)
{
    FaultOptions options;
    options.rule(FaultKind::Nak).every = 3;
    const std::vector<int> sequence = faultSequence(options, 30);
    for (size_t i = 0; i < sequence.size(); ++i) {
        const bool nth = (i + 1) % 3 == 0;
        EXPECT_EQ(sequence[i], nth ? static_cast<int>(FaultKind::Nak) : -1) << "reply " << i + 1;
    }
}

TEST(FaultInjector, ProbabilityZeroNeverAndOneAlways)
{
    FaultOptions never;
    never.rule(FaultKind::Drop).probability = 0.0;
    for (int outcome : faultSequence(never, 200))
        EXPECT_EQ(outcome, -1);
    FaultOptions always;
    always.rule(FaultKind::Delay).probability = 1.0;
    for (int outcome : faultSequence(always, 200))
        EXPECT_EQ(outcome, static_cast<int>(FaultKind::Delay));
}

TEST(FaultInjector, EarlierKindWinsWhenSeveralFire)
{
    FaultOptions options;
    options.rule(FaultKind::Delay).every = 1;
    options.rule(FaultKind::Nak).every = 2;
    const std::vector<int> sequence = faultSequence(options, 4);
    EXPECT_EQ(sequence, (std::vector<int>{4, 1, 4, 1})); // Delay, Nak, Delay, Nak
}

struct ShapeRow {
    const char* name;
    FaultKind kind;
    const char* reply;
    const char* faulted; // nullptr: checked by the test itself (corrupt)
    qint64 extraDelayUs;
};

void PrintTo(const ShapeRow& row, std::ostream* os)
{
    *os << row.name;
}

const ShapeRow kShapes[] = {
    {"DropData", FaultKind::Drop, "02 33 34 31 32 03 43 44", "", 0},
    {"NakForAck", FaultKind::Nak, "06", "15", 0},
    {"TruncateDataToHalf", FaultKind::Truncate, "02 33 34 31 32 03 43 44", "02 33 34 31", 0},
    {"TruncateAckToNothing", FaultKind::Truncate, "06", "", 0},
    {"DelayKeepsBytes", FaultKind::Delay, "02 33 34 31 32 03 43 44", "02 33 34 31 32 03 43 44", 5000},
};

class FaultShape : public ::testing::TestWithParam<ShapeRow> {};

TEST_P(FaultShape, ChangesTheReplyAsALineFaultWould)
{
    const ShapeRow& row = GetParam();
    FaultOptions options;
    options.rule(row.kind).every = 1;
    options.delayUs = 5000;
    FaultInjector injector(options);
    const FaultedReply out = injector.apply(fromHexBytes(row.reply));
    EXPECT_TRUE(out.faulted);
    EXPECT_EQ(out.fault, row.kind);
    EXPECT_EQ(out.bytes, fromHexBytes(row.faulted));
    EXPECT_EQ(out.extraDelayUs, row.extraDelayUs);
    EXPECT_EQ(injector.injected(row.kind), 1u);
    EXPECT_EQ(injector.injectedTotal(), 1u);
}

INSTANTIATE_TEST_SUITE_P(FaultInjector, FaultShape, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FaultInjector, CorruptChangesExactlyOneCharacter)
{
    FaultOptions options;
    options.rule(FaultKind::Corrupt).every = 1;
    FaultInjector injector(options);
    const QByteArray reply = fromHexBytes("02 33 34 31 32 03 43 44");
    for (int i = 0; i < 40; ++i) {
        const QByteArray out = injector.apply(reply).bytes;
        ASSERT_EQ(out.size(), reply.size());
        int differing = 0;
        for (int k = 0; k < out.size(); ++k)
            differing += out.at(k) != reply.at(k) ? 1 : 0;
        EXPECT_EQ(differing, 1);
    }
}

TEST(FaultInjector, VirtualPlcAppliesFaultsToItsRepliesAndCountsThem)
{
    VirtualPlcOptions options;
    options.faults.rule(FaultKind::Drop).every = 2;
    VirtualPlc plc(options);
    EXPECT_EQ(plc.receive(fromHexBytes("05")), fromHexBytes("06"));
    EXPECT_TRUE(plc.receive(fromHexBytes("05")).isEmpty());
    EXPECT_EQ(plc.receive(fromHexBytes("05")), fromHexBytes("06"));
    const VirtualPlcCounters c = plc.counters();
    EXPECT_EQ(c.replies, 3u);
    EXPECT_EQ(c.faultsInjected, 1u);
    EXPECT_EQ(c.faultsByKind[static_cast<size_t>(FaultKind::Drop)], 1u);
    EXPECT_EQ(c.bytesSent, 2u);
}

} // namespace
