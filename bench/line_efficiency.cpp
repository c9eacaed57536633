// Line efficiency: how close the host runtime comes to keeping a paced line
// busy, what the module's block compaction saves on the wire, and how the
// read planner's blocks compare with the module's rule, measured.
//
// For each block size the program first counts, through the module's entry
// points and an in-process virtual PLC, the frames and characters of one
// full scan of the sample screen, and the same for one request per variable.
// Then the host runtime polls the screen over a pseudo-terminal whose far
// end is the virtual PLC, paced at the baud rate with no answer delay, and
// the time per full scan is measured against the wire time of its
// characters (10 bits each).
//
//
// The host's communication thread and the PLC's line thread run on one core
// unless --spread is given. A real PLC answers from its own processor; the
// virtual one shares the host's machine, and on a virtual machine every
// hand-over between two idle cores waits for the hypervisor to wake the
// other core (some 100 us each way, twice an exchange). On one core the
// hand-over is a plain thread switch, so what is measured is the host's work
// and the line, not the virtual PLC's wake-ups.
//
//   tavrin_line_efficiency [--bauds 9600,115200] [--block-sizes 4,8,16,32] [--count-sizes 4,8,10]
//                          [--answer-delays 0,10] [--seconds 2] [--count-only] [--spread]

#include "host_runtime.h"
#include "host_variables.h"
#include "line_settings.h"
#include "line_timing.h"
#include "module_scan.h"
#include "read_planner.h"
#include "pty_server.h"
#include "pty_round_trip.h"
#include "tavrin.h"
#include "virtual_plc.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMap>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <sched.h>

namespace {

// The same screen read one variable at a time: each variable alone makes
// the block(s) it would need without compaction.
WireCost perVariableCost(const QList<HostVarDef>& vars, qint32 blockSize, VirtualPlc& plc)
{
    WireCost total;
    for (const HostVarDef& var : vars) {
        const WireCost one = scanCost({var}, blockSize, plc);
        total.frames += one.frames;
        total.characters += one.characters;
        total.refused += one.refused;
    }
    return total;
}

// How one run polls the screen: the module's rule at a block size, or the
// planner priced with a fixed turnaround; and the PLC's answer delay.
struct Polling {
    ReadPlanning planning = ReadPlanning::Module;
    qint32 blockSize = DefaultBlockSize;
    int answerDelayMs = 0;
};

struct Measurement {
    bool ok = false;
    QString error;
    double secondsPerScan = 0; // mean time of one scan over the measured window
    int scans = 0;
    qint64 retries = 0;        // replies that timed out or failed (each costs a whole timeout)
};

// Polls the screen with the host runtime over the pseudo-terminal and times
// each whole scan, from one good-reply count that is a multiple of the
// block count to the next, after one scan of warm-up.
Measurement measureScans(const QList<VariableAddress>& screen, int framesPerScan, qint32 baud,
                         const Polling& polling, double seconds, double wireSecondsPerScan)
{
    Measurement result;
    VirtualPlc plc;
    ServerOptions lineOptions;
    lineOptions.pacing.baudRate = baud;
    lineOptions.pacing.responseDelayUs = qint64(polling.answerDelayMs) * 1000;
    PtyServer pty(plc, lineOptions);
    if (!pty.open(&result.error))
        return result;

    LineSettings settings;
    settings.port.kind = LineKind::Serial; // the tool's own serial line, on the pseudo-terminal
    settings.port.path = pty.devicePath();
    settings.baud = baud;
    settings.blockSize = polling.blockSize;
    settings.planning = polling.planning;
    settings.turnaroundMs = polling.answerDelayMs;
    settings.retries = 3;
    settings.probe = false;
    HostRuntime runtime([settings] { return makeDeviceLine(settings); }, settings);
    if (!runtime.start(&result.error))
        return result;
    runtime.setPolledVariables(screen);

    const double scanSeconds = wireSecondsPerScan + framesPerScan * polling.answerDelayMs / 1e3;
    const int scans = std::max(3, static_cast<int>(std::ceil(seconds / scanSeconds)));
    const qint64 budgetMs = static_cast<qint64>((scans + 2) * scanSeconds * 3000) + 5000;
    QElapsedTimer clock;
    clock.start();
    // After one scan of warm-up, the scan time is the elapsed time over the
    // good replies counted in between, in whole scans of frames. Looking
    // only every 20 ms keeps this thread off the two cores the host and the
    // PLC share; the look can fall anywhere inside a frame, which over many
    // scans errs by well under 1%.
    qint64 startFrames = -1;
    qint64 startNs = 0;
    while (true) {
        const LineStatistics stats = runtime.statistics();
        result.retries = stats.retries;
        if (stats.giveUps) {
            result.error = QStringLiteral("the line gave up %1 requests during the measurement").arg(stats.giveUps);
            break;
        }
        const qint64 now = clock.nsecsElapsed();
        if (startFrames < 0 && stats.goodReplies >= framesPerScan) {
            startFrames = stats.goodReplies;
            startNs = now;
        } else if (startFrames >= 0 && stats.goodReplies - startFrames >= qint64(scans) * framesPerScan) {
            const double frames = static_cast<double>(stats.goodReplies - startFrames);
            result.scans = static_cast<int>(frames / framesPerScan);
            result.secondsPerScan = (now - startNs) / 1e9 * framesPerScan / frames;
            result.ok = true;
            break;
        }
        if (clock.elapsed() > budgetMs) {
            result.error = QStringLiteral("the scans took far longer than their wire time");
            break;
        }
        QThread::msleep(20);
    }
    runtime.stop();
    pty.close();
    return result;
}

// Confines this process, and the threads it starts from now on, to the first
// core it may run on. Returns that core, or -1 when the system refuses.
int confineToOneCore()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    for (int core = 0; core < CPU_SETSIZE; ++core) {
        if (!CPU_ISSET(core, &allowed))
            continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(core, &one);
        return sched_setaffinity(0, sizeof one, &one) == 0 ? core : -1;
    }
    return -1;
}

QList<int> numberList(const QString& text)
{
    QList<int> numbers;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (ok && n > 0)
            numbers.append(n);
    }
    return numbers;
}

// Modelled time of one scan: the characters at `baud` plus one answer
// delay per frame (the PLC answers at the end of its program scan).
double modelledSeconds(const WireCost& cost, qint32 baud, double answerDelaySeconds)
{
    return cost.wireSeconds(baud) + cost.frames * answerDelaySeconds;
}

QMap<int, WireCost> printWireCosts(const QList<HostVarDef>& vars, const QList<int>& blockSizes, VirtualPlc& plc)
{
    std::printf("Wire cost of one full scan (characters both ways), compacted and one request per variable\n");
    std::printf("  %5s  %6s  %6s  %9s  %6s  %6s  %15s  %s\n", "block", "frames", "chars", "per-var", "chars",
                "saved", "9600 ms/scan", "");
    std::printf("  %5s  %6s  %6s  %9s  %6s  %6s  %15s\n", "", "", "", "frames", "", "", "delay 0 / 5 ms");
    QMap<int, WireCost> costs;
    for (int blockSize : blockSizes) {
        const WireCost compact = scanCost(vars, blockSize, plc);
        const WireCost single = perVariableCost(vars, blockSize, plc);
        costs.insert(blockSize, compact);
        std::printf("  %5d  %6d  %6lld  %9d  %6lld  %5.1f%%  %6.0f / %6.0f  %s\n", blockSize, compact.frames,
                    static_cast<long long>(compact.characters), single.frames,
                    static_cast<long long>(single.characters),
                    100.0 * (1.0 - double(compact.characters) / double(single.characters)),
                    modelledSeconds(compact, 9600, 0) * 1e3, modelledSeconds(compact, 9600, 0.005) * 1e3,
                    compact.refused ? "frames refused: above the PLC's byte limit" : "");
    }
    return costs;
}

// Returns whether every row met its target.
bool measureAll(const QList<VariableAddress>& screen, const QMap<int, WireCost>& costs, const QList<int>& bauds,
                const QList<int>& blockSizes, double seconds)
{
    bool allMet = true;
    // 11 characters out, 40 back: a read of 18 bytes, the mean frame of the sample screen.
    const double bareRoundTripUs = ptyRoundTripMicroseconds(11, 40, 2000);
    std::printf("\nMeasured scans: host runtime over the pseudo-terminal\n");
    std::printf("  (a bare pseudo-terminal round trip, no Qt, no module, no pacing, costs %.0f us here)\n",
                bareRoundTripUs);
    std::printf("  %6s  %5s  %5s  %7s  %12s  %14s  %14s  %11s  %s\n", "baud", "block", "scans", "retries",
                "wire ms/scan", "ms/scan", "extra us/frame", "utilisation", "target");
    for (int baud : bauds) {
        const double target = baud <= 9600 ? 0.95 : 0.90;
        for (int i = 0; i < blockSizes.size(); ++i) {
            const WireCost cost = costs.value(blockSizes[i]);
            if (cost.refused || cost.frames == 0)
                continue; // the PLC refuses some of its frames: nothing to time
            const double wire = cost.wireSeconds(baud);
            const Measurement m = measureScans(screen, cost.frames, baud, Polling{ReadPlanning::Module, blockSizes[i], 0},
                                               seconds, wire);
            if (!m.ok) {
                std::printf("  %6d  %5d  failed: %s\n", baud, blockSizes[i], qPrintable(m.error));
                allMet = false;
                continue;
            }
            const double utilisation = wire / m.secondsPerScan;
            const bool met = utilisation >= target;
            allMet = allMet && met;
            // Time beyond the wire time, per exchange: host, pseudo-terminal and scheduling.
            const double extraPerFrame = (m.secondsPerScan - wire) / cost.frames;
            std::printf("  %6d  %5d  %5d  %7lld  %12.1f  %14.1f  %14.0f  %10.1f%%  >= %.0f%% %s\n", baud,
                        blockSizes[i], m.scans, static_cast<long long>(m.retries), wire * 1e3,
                        m.secondsPerScan * 1e3, extraPerFrame * 1e6, utilisation * 100.0, target * 100.0,
                        met ? "met" : "NOT MET");
            std::fflush(stdout);
        }
    }
    return allMet;
}

// The block size at which the module's rule would scan the screen fastest
// on this line, of the counted sizes the PLC took whole (on this screen that
// includes sizes above those the tool accepts).
int bestRuleBlockSize(const QMap<int, WireCost>& costs, qint32 baud, int delayMs)
{
    int best = 0;
    for (auto it = costs.cbegin(); it != costs.cend(); ++it) {
        if (it->refused)
            continue;
        if (!best || modelledSeconds(*it, baud, delayMs / 1e3) < modelledSeconds(costs.value(best), baud, delayMs / 1e3))
            best = it.key();
    }
    return best;
}

// The planner's blocks against the module's rule at the tool's default block
// size and at the rule's best size for the line, all polled by the runtime
// over the paced line, with the PLC answering each frame after its delay.
// The planner is priced with that delay as its turnaround, as
// --turnaround-ms gives it (its own measurement comes to the same after its
// first second on the line).
void comparePlanner(const QList<VariableAddress>& screen, const QMap<int, WireCost>& costs, const QList<int>& bauds,
                    const QList<int>& delaysMs, double seconds)
{
    if (delaysMs.isEmpty())
        return;
    std::printf("\nMeasured scans: the read planner against the module's rule (ms per scan; frames / characters)\n");
    std::printf("  %6s  %8s  %24s  %28s  %24s  %14s\n", "baud", "delay ms", "rule, size 16", "rule, best size",
                "planner", "saved vs best");
    QVector<PolledSpan> spans;
    for (const VariableAddress& variable : screen)
        spans.append(variableSpan(variable));
    for (int baud : bauds) {
        for (int delayMs : delaysMs) {
            ReadCostModel model;
            model.baud = baud;
            model.turnaroundUs = delayMs * 1000;
            const ReadPlan plan = planReads(spans, model);
            const double planWire = LineTiming::wireTimeUs(plan.characters(), baud) / 1e6;
            const auto measureRule = [&](int blockSize) {
                const WireCost cost = costs.value(blockSize);
                return measureScans(screen, cost.frames, baud, Polling{ReadPlanning::Module, blockSize, delayMs},
                                    seconds, cost.wireSeconds(baud));
            };
            const int best = bestRuleBlockSize(costs, baud, delayMs);
            const Measurement atDefault = measureRule(DefaultBlockSize);
            const Measurement atBest = best == DefaultBlockSize ? atDefault : measureRule(best);
            const Measurement planned = measureScans(screen, plan.frames(), baud,
                                                     Polling{ReadPlanning::Cost, DefaultBlockSize, delayMs}, seconds,
                                                     planWire);
            for (const Measurement* m : {&atDefault, &atBest, &planned}) {
                if (!m->ok) {
                    std::printf("  %6d  %8d  failed: %s\n", baud, delayMs, qPrintable(m->error));
                    break;
                }
            }
            if (!atDefault.ok || !atBest.ok || !planned.ok)
                continue;
            const WireCost d = costs.value(DefaultBlockSize);
            const WireCost b = costs.value(best);
            std::printf("  %6d  %8d  %7.1f (%3d / %5lld)  %2d: %7.1f (%3d / %5lld)  %7.1f (%3d / %5lld)  %13.1f%%\n",
                        baud, delayMs, atDefault.secondsPerScan * 1e3, d.frames, static_cast<long long>(d.characters),
                        best, atBest.secondsPerScan * 1e3, b.frames, static_cast<long long>(b.characters),
                        planned.secondsPerScan * 1e3, plan.frames(), static_cast<long long>(plan.characters()),
                        100.0 * (1.0 - planned.secondsPerScan / atBest.secondsPerScan));
            std::fflush(stdout);
        }
    }
}

// The block sizes with the fewest characters per scan and with the
// shortest scan once the PLC's answer delay counts, among those the tool
// accepts: above MaxBlockSize a 32-bit counter block can pass the PLC's
// 64-byte limit on other screens, even where the sample screen gets by.
void printRecommendation(const QMap<int, WireCost>& costs)
{
    int fewestCharacters = 0;
    int fastestWithDelay = 0;
    for (auto it = costs.cbegin(); it != costs.cend(); ++it) {
        if (it->refused || it.key() > MaxBlockSize)
            continue;
        const WireCost& cost = *it;
        if (!fewestCharacters || cost.characters < costs.value(fewestCharacters).characters)
            fewestCharacters = it.key();
        if (!fastestWithDelay
            || modelledSeconds(cost, 9600, 0.005) < modelledSeconds(costs.value(fastestWithDelay), 9600, 0.005))
            fastestWithDelay = it.key();
    }
    if (!fewestCharacters)
        return;
    const WireCost fewest = costs.value(fewestCharacters);
    std::printf("\nOf the block sizes up to %d (the largest whose requests all fit 64 bytes):\n", MaxBlockSize);
    std::printf("  fewest characters per scan: %d (%lld characters, %d frames);\n", fewestCharacters,
                static_cast<long long>(fewest.characters), fewest.frames);
    std::printf("  shortest scan at 9600 baud with a 5 ms answer delay: %d (%.0f ms).\n", fastestWithDelay,
                modelledSeconds(costs.value(fastestWithDelay), 9600, 0.005) * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Line efficiency of the host runtime and the module's block compaction."));
    parser.addHelpOption();
    const QCommandLineOption baudOption(QStringLiteral("bauds"), QStringLiteral("Baud rates to measure."),
                                        QStringLiteral("list"), QStringLiteral("9600,115200"));
    const QCommandLineOption blockOption(QStringLiteral("block-sizes"), QStringLiteral("Block sizes to measure."),
                                         QStringLiteral("list"), QStringLiteral("4,8,12,16,20,32"));
    const QCommandLineOption countOption(QStringLiteral("count-sizes"),
                                         QStringLiteral("Block sizes to count the wire cost of."),
                                         QStringLiteral("list"), QStringLiteral("4,8,10,12,16,17,20,32"));
    const QCommandLineOption delayOption(QStringLiteral("answer-delays"),
                                         QStringLiteral("The PLC's answer delays, in ms, to compare the planner at."),
                                         QStringLiteral("list"), QStringLiteral("0,10"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Time to measure each row (at least three scans)."),
                                           QStringLiteral("s"), QStringLiteral("2"));
    const QCommandLineOption countOnlyOption(QStringLiteral("count-only"),
                                             QStringLiteral("Only count the wire cost; measure no scans."));
    const QCommandLineOption spreadOption(QStringLiteral("spread"),
                                          QStringLiteral("Let the host's and the PLC's threads run on any core."));
    parser.addOptions({baudOption, blockOption, countOption, delayOption, secondsOption, countOnlyOption, spreadOption});
    parser.process(app);
    QList<int> bauds = numberList(parser.value(baudOption));
    const QList<int> blockSizes = numberList(parser.value(blockOption));
    QList<int> countSizes = numberList(parser.value(countOption));
    for (int size : blockSizes + QList<int>{DefaultBlockSize}) {
        if (!countSizes.contains(size))
            countSizes.append(size); // every measured row needs its count
    }
    std::sort(countSizes.begin(), countSizes.end());
    const double seconds = std::max(0.1, parser.value(secondsOption).toDouble());
    if (bauds.isEmpty() || blockSizes.isEmpty()) {
        std::fprintf(stderr, "--bauds and --block-sizes take comma-separated positive numbers\n");
        return 1;
    }

    const QList<HostVarDef> vars = sampleScreen();
    QList<VariableAddress> screen;
    QString error;
    if (!parseVariables(vars, &screen, &error)) {
        std::fprintf(stderr, "sample screen: %s\n", qPrintable(error));
        return 1;
    }

    VirtualPlc countingPlc;
    std::printf("Sample screen: %lld variables of mixed types; virtual PLC (64-byte limit) on a "
                "pseudo-terminal, paced, no answer delay.\n\n",
                static_cast<long long>(vars.size()));
    const QMap<int, WireCost> costs = printWireCosts(vars, countSizes, countingPlc);
    bool allMet = true;
    if (!parser.isSet(countOnlyOption)) {
        const int core = parser.isSet(spreadOption) ? -1 : confineToOneCore();
        if (core >= 0)
            std::printf("\nThe host's and the PLC's threads share core %d.\n", core);
        else
            std::printf("\nThe host's and the PLC's threads run on any of the %d cores.\n", QThread::idealThreadCount());
        allMet = measureAll(screen, costs, bauds, blockSizes, seconds);
        QList<int> delays;
        for (const QString& part : parser.value(delayOption).split(QLatin1Char(','), Qt::SkipEmptyParts))
            delays.append(part.trimmed().toInt());
        comparePlanner(screen, costs, bauds, delays, seconds);
    }
    printRecommendation(costs);
    return allMet ? 0 : 2;
}
