// Polling through planned blocks: a block the PLC refuses is split until the
// variable at fault is found, and the plan follows the turnaround the
// runtime measures on the line.

#include "host_runtime.h"
#include "test_variables.h"
#include "recording_line.h"
#include "request_decoder.h"

#include "support/qt_printers.h"
#include "support/wait_until.h"

#include <gtest/gtest.h>

namespace {

struct PlannedLine {
    std::shared_ptr<VirtualPlc> plc;
    SentFrames sent;
    std::unique_ptr<HostRuntime> runtime;

    PlannedLine(const VirtualPlcOptions& options, const LinePacing& pacing, const LineSettings& settings)
        : plc(std::make_shared<VirtualPlc>(options))
    {
        runtime = std::make_unique<HostRuntime>(
            [this, pacing] { return std::make_unique<RecordingLine>(plc, pacing, &sent); }, settings);
        QString error;
        EXPECT_TRUE(runtime->start(&error)) << error.toStdString();
    }

    // The byte counts of the block reads sent since `from`.
    QVector<int> readSizes(int from) const
    {
        QVector<int> sizes;
        const QVector<QByteArray> frames = sent.all();
        for (int i = from; i < frames.size(); ++i) {
            const DecodedRequest request = decodeRequest(frames.at(i));
            if (request.kind == DecodedRequest::Kind::BlockRead)
                sizes.append(request.byteCount);
        }
        return sizes;
    }
};

// The PLC takes requests of 4 bytes at most. D0 to D5 are planned as one
// 12-byte block: it is refused and split, 6 and 6, then 2 and 4, until every
// piece fits. D10:3 is 6 bytes whatever the split: it is the variable at
// fault. The blocks so learnt are kept; polling goes on with them.
TEST(PlannedPolling, ARefusedBlockIsSplitUntilTheVariableAtFaultIsFound)
{
    VirtualPlcOptions options;
    options.byteLimit = 4;
    LineSettings settings;
    settings.answerAllowanceMs = 20;
    settings.retries = 0; // a refusal is certain: one try each
    PlannedLine line(options, LinePacing(), settings);
    QList<VariableAddress> polled;
    for (int k = 0; k < 6; ++k) {
        line.plc->setValue(QStringLiteral("D"), k, 100 + k);
        polled.append(variable(QStringLiteral("D%1").arg(k)));
    }
    polled.append(variable(QStringLiteral("D10"), 3));
    EXPECT_EQ(line.runtime->setPolledVariables(polled), 2); // D6 to D9 cost more than a frame
    EXPECT_TRUE(waitUntil([&] {
        for (int i = 0; i < polled.size(); ++i) {
            if (line.runtime->quality(i).quality == Quality::Waiting)
                return false;
        }
        return true;
    }));
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(line.runtime->quality(k).quality, Quality::Good) << "D" << k;
        EXPECT_EQ(line.runtime->values(polled.at(k)), QByteArray(1, char(100 + k)) + '\0') << "D" << k;
    }
    EXPECT_EQ(line.runtime->quality(6).quality, Quality::Bad);
    EXPECT_EQ(line.runtime->quality(6).error, QStringLiteral("the PLC refused the request (NAK)"));
    // Polling goes on with blocks the PLC takes, D10:3 left out.
    const int from = line.sent.size();
    EXPECT_TRUE(waitUntil([&] { return line.readSizes(from).size() >= 8; }));
    for (const int bytes : line.readSizes(from))
        EXPECT_LE(bytes, 4);
}

// At 115200 baud the 19 words between D0 and D20 cost 76 characters, 6.6
// ms; a frame of its own costs 15 characters, 1.3 ms, and one turnaround.
// While the PLC answers at once the planner reads two blocks; once it has
// measured 10 ms of answer delay per frame, one block that bridges the gap.
TEST(PlannedPolling, TheBlocksFollowTheTurnaroundMeasuredOnTheLine)
{
    LineSettings settings;
    settings.baud = 115200;
    settings.answerAllowanceMs = 100;
    settings.probe = false; // a probe would measure the turnaround before the first plan
    PlannedLine line(VirtualPlcOptions(), LinePacing{115200, 10000}, settings);
    EXPECT_EQ(line.runtime->setPolledVariables({variable(QStringLiteral("D0")), variable(QStringLiteral("D20"))}), 2);
    EXPECT_TRUE(waitUntil([&] { return line.runtime->statistics().plans >= 2; }, 30000));
    const LineStatistics stats = line.runtime->statistics();
    EXPECT_GE(stats.turnaroundUs, 9000); // the PLC never answers sooner than its delay
    const int from = line.sent.size();
    EXPECT_TRUE(waitUntil([&] { return line.readSizes(from).size() >= 2; }));
    EXPECT_EQ(line.readSizes(from).first(), 42); // D0 to D20 in one block
}

// A fixed turnaround, and the module's own rule, chosen by hand.
TEST(PlannedPolling, TheTurnaroundAndTheRuleCanBeFixedByHand)
{
    const QList<VariableAddress> polled = {variable(QStringLiteral("D0")), variable(QStringLiteral("D20"))};
    LineSettings settings;
    settings.turnaroundMs = 100;
    EXPECT_EQ(PlannedLine(VirtualPlcOptions(), LinePacing(), settings).runtime->setPolledVariables(polled), 1);
    settings.turnaroundMs = -1;
    settings.planning = ReadPlanning::Module;
    settings.blockSize = 16; // D0 to D20 is 21 words: two blocks
    EXPECT_EQ(PlannedLine(VirtualPlcOptions(), LinePacing(), settings).runtime->setPolledVariables(polled), 2);
}

} // namespace
