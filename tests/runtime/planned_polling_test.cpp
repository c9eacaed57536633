// Polling through planned blocks on the fake line: a block the PLC refuses
// is split until the variable at fault is found, and the plan follows the
// turnaround the core measures on the line, or the one the user fixed.

#include "fake_line.h"
#include "request_decoder.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 S = 1000000;

// The byte counts of the block reads sent since `from`.
QVector<int> readSizes(const FakeLine& line, int from)
{
    QVector<int> sizes;
    for (int i = from; i < line.sent.size(); ++i) {
        const DecodedRequest request = decodeRequest(line.sent.at(i));
        if (request.kind == DecodedRequest::Kind::BlockRead)
            sizes.append(request.byteCount);
    }
    return sizes;
}

// The PLC takes requests of 4 bytes at most. D0 to D5 are planned as one
// 12-byte block: it is refused and split, 6 and 6, then 2 and 4, until every
// piece fits. D10:3 is 6 bytes whatever the split: it is the variable at
// fault. The blocks so learnt are kept; polling goes on with them.
TEST(PlannedPolling, ARefusedBlockIsSplitUntilTheVariableAtFaultIsFound)
{
    VirtualPlcOptions options;
    options.byteLimit = 4;
    LineSettings settings;
    settings.retries = 0; // a refusal is certain: one try each
    PlcPace prompt;       // that answers at once: a frame costs its 15 characters alone
    prompt.delayUs = [](int) { return qint64(0); };
    FakeLine line(settings, prompt, true, options);
    QList<VariableAddress> polled;
    for (int k = 0; k < 6; ++k) {
        line.plc.setValue(QStringLiteral("D"), k, 100 + k);
        polled.append(variable(QStringLiteral("D%1").arg(k)));
    }
    polled.append(variable(QStringLiteral("D10"), 3));
    EXPECT_EQ(line.core.setPolled(polled, false, line.now), 2); // D6 to D9 cost more than a frame
    line.runFor(60 * S, [&] { return line.core.allSettled(); });
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(line.core.quality(k).quality, Quality::Good) << "D" << k;
        EXPECT_EQ(line.core.values(polled.at(k)), QByteArray(1, char(100 + k)) + '\0') << "D" << k;
    }
    EXPECT_EQ(line.core.quality(6).quality, Quality::Bad);
    EXPECT_EQ(line.core.quality(6).error, QStringLiteral("the PLC refused the request (NAK)"));
    // Polling goes on with blocks the PLC takes, D10:3 left out.
    const int from = line.sent.size();
    line.runFor(5 * S);
    EXPECT_GE(readSizes(line, from).size(), 8);
    for (const int bytes : readSizes(line, from))
        EXPECT_LE(bytes, 4);
}

// D0 and D20: the 19 words between them cost 76 characters; a frame of its
// own costs 15 and one turnaround. At 115200 baud a character takes 87 us:
// 2 ms of answer delay is 23 characters (two blocks), 10 ms is 115 (one).
struct PlanCase {
    const char* name;
    qint32 baud;
    qint64 delayUs;       // the PLC's answer delay
    int turnaroundMs;     // fixed by the user; < 0: measured
    ReadPlanning planning;
    int blocksAtStart;
    int firstReadBytes;   // of the blocks polled once the plan settled: 42 is D0 to D20
};

class Planning : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Planning, FollowsTheTurnaroundOnTheLineOrTheUsersChoice)
{
    LineSettings settings;
    settings.baud = GetParam().baud;
    settings.probe = false; // a probe would measure the turnaround before the first plan
    settings.turnaroundMs = GetParam().turnaroundMs;
    settings.planning = GetParam().planning;
    PlcPace pace;
    pace.delayUs = [d = GetParam().delayUs](int) { return d; };
    FakeLine line(settings, pace);
    const QList<VariableAddress> polled{variable(QStringLiteral("D0")), variable(QStringLiteral("D20"))};
    EXPECT_EQ(line.core.setPolled(polled, false, line.now), GetParam().blocksAtStart);
    line.runFor(30 * S);
    EXPECT_GE(line.core.statistics().turnaroundUs, GetParam().delayUs * 9 / 10);
    const int from = line.sent.size();
    line.runFor(1 * S);
    ASSERT_FALSE(readSizes(line, from).isEmpty());
    EXPECT_EQ(readSizes(line, from).first(), GetParam().firstReadBytes);
}

const PlanCase planCases[] = {
    {"APromptPlcKeepsTwoBlocks", 115200, 2000, -1, ReadPlanning::Cost, 2, 2},
    {"AMeasuredTurnaroundOf10msJoinsThem", 115200, 10000, -1, ReadPlanning::Cost, 2, 42},
    {"AFixedTurnaroundJoinsThemFromTheStart", 9600, 2000, 100, ReadPlanning::Cost, 1, 42},
    // D0 to D20 is 21 words, more than a block of 16: two blocks.
    {"TheModulesRule", 115200, 10000, -1, ReadPlanning::Module, 2, 2},
};
INSTANTIATE_TEST_SUITE_P(Lines, Planning, ::testing::ValuesIn(planCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
