// The read planner: how long planning takes, and what a scan of its plan
// costs against the module's own merge rule on the sample screen.
//
// Planning is timed by Google Benchmark in CPU time, over mixed sets of
// 1,000 to 100,000 variables; give --benchmark_repetitions=5 for the spread.
// The cost of a scan is counted, not timed: each plan is read once through
// the module's entry points, as a host calls them (AddListReadVar for the
// planner's blocks, ReCreatReadVarList for the module's rule), and every
// request is answered by a virtual PLC, so the characters are those the
// module really sends. A scan's time on a line is then its characters at 10 bits each plus
// one turnaround per frame.
//
//   tavrin_planner_bench [--benchmark_repetitions=5] [Google Benchmark options]

#include "host_variables.h"
#include "module_scan.h"
#include "polled_quality.h"
#include "read_planner.h"
#include "recording_reporter.h"
#include "virtual_plc.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

QVector<PolledSpan> spansOf(const QList<HostVarDef>& vars)
{
    QList<VariableAddress> variables;
    QString error;
    if (!parseVariables(vars, &variables, &error))
        qFatal("%s", qPrintable(error));
    QVector<PolledSpan> spans;
    for (const VariableAddress& variable : variables)
        spans.append(variableSpan(variable));
    return spans;
}

// The same mixed sets as the module's rebuild benchmark, parsed once.
const QVector<PolledSpan>& mixedSpans(int count)
{
    static std::map<int, QVector<PolledSpan>> sets;
    auto it = sets.find(count);
    if (it == sets.end())
        it = sets.emplace(count, spansOf(mixedHostVariables(count, 20240601u))).first;
    return it->second;
}

void BM_PlanReads(benchmark::State& state)
{
    const QVector<PolledSpan>& spans = mixedSpans(static_cast<int>(state.range(0)));
    const ReadCostModel line{9600, 10000, 64};
    int blocks = 0;
    for (auto _ : state)
        blocks = planReads(spans, line).frames();
    state.counters["blocks"] = blocks;
}

BENCHMARK(BM_PlanReads)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

struct Spread {
    double mean = 0;
    double deviation = 0; // sample standard deviation
    double least = 0;
    double most = 0;
};

Spread spreadOf(const std::vector<Measured>& runs)
{
    Spread spread{0, 0, runs.front().cpuSeconds, runs.front().cpuSeconds};
    for (const Measured& run : runs) {
        spread.mean += run.cpuSeconds / static_cast<double>(runs.size());
        spread.least = std::min(spread.least, run.cpuSeconds);
        spread.most = std::max(spread.most, run.cpuSeconds);
    }
    for (const Measured& run : runs)
        spread.deviation += (run.cpuSeconds - spread.mean) * (run.cpuSeconds - spread.mean);
    spread.deviation = runs.size() > 1 ? std::sqrt(spread.deviation / static_cast<double>(runs.size() - 1)) : 0;
    return spread;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// --- The cost of a scan.

double scanSeconds(const WireCost& cost, const ReadCostModel& line)
{
    return cost.wireSeconds(line.baud) + cost.frames * (line.turnaroundUs / 1e6);
}

// The planner's blocks, read once through the module.
WireCost plannedScan(const ReadPlan& plan, VirtualPlc& plc)
{
    CountingRun run(16);
    for (const ReadBlock& block : plan.blocks)
        run.module().AddListReadVar(readItem(block));
    return run.scan(plan.frames(), plc);
}

// The variables as the reference host hands them to ReCreatReadVarList: bits
// of D words as the words that hold them, one record per 32-bit counter.
QList<HostVarDef> moduleRecords(const QVector<PolledSpan>& spans)
{
    QList<HostVarDef> records;
    for (const PolledSpan& span : spans) {
        if (span.area == QLatin1String("32CV")) {
            for (qint64 counter = span.first; counter < span.end; ++counter)
                records.append(hostVariable(span.area, QString(), qint32(counter), 2));
        } else {
            records.append(hostVariable(span.area, QString(), qint32(span.first), qint32(span.end - span.first)));
        }
    }
    return records;
}

struct RuleScan {
    int blockSize = 0;
    WireCost cost;
};

// The module's rule at the block size that gives the shortest scan on
// `line`, of those whose requests all fit 64 bytes (2 to 17).
RuleScan bestRuleScan(const QList<HostVarDef>& records, const ReadCostModel& line, VirtualPlc& plc)
{
    RuleScan best;
    for (qint32 blockSize = 2; blockSize <= 17; ++blockSize) {
        const WireCost cost = scanCost(records, blockSize, plc);
        if (!best.blockSize || scanSeconds(cost, line) < scanSeconds(best.cost, line))
            best = {blockSize, cost};
    }
    return best;
}

struct ScreenRow {
    ReadCostModel line;
    ReadPlan plan;
    WireCost planned;  // the plan, counted through the module
    RuleScan rule;     // the module's rule at its best block size
    WireCost ruleAt16; // and at the tool's default
};

void printScreenRow(const ScreenRow& row)
{
    auto ms = [&row](const WireCost& cost) { return scanSeconds(cost, row.line) * 1e3; };
    std::printf("  %6d  %4d  | %6d %6lld %8.1f | %4d %6d %6lld %8.1f | %6d %6lld %8.1f | %6.1f%%\n",
                row.line.baud, row.line.turnaroundUs / 1000, row.planned.frames,
                static_cast<long long>(row.planned.characters), ms(row.planned), row.rule.blockSize,
                row.rule.cost.frames, static_cast<long long>(row.rule.cost.characters), ms(row.rule.cost),
                row.ruleAt16.frames, static_cast<long long>(row.ruleAt16.characters), ms(row.ruleAt16),
                100.0 * (1.0 - ms(row.planned) / ms(row.rule.cost)));
}

// Prints the sample screen's table; returns whether the module sent exactly
// the characters of every plan and no PLC refused a planned frame.
bool printSampleScreen()
{
    const QList<HostVarDef> screen = sampleScreen();
    const QVector<PolledSpan> spans = spansOf(screen);
    const QList<HostVarDef> records = moduleRecords(spans);
    VirtualPlc plc;
    std::printf("\nSample screen, %lld variables: one scan through the module, characters both ways "
                "(counted, the same in every run)\n",
                static_cast<long long>(screen.size()));
    std::printf("  %6s  %4s  | %-22s | %-27s | %-22s | %s\n", "", "", "planner", "module rule, best block size",
                "module rule, size 16", "planner");
    std::printf("  %6s  %4s  | %6s %6s %8s | %4s %6s %6s %8s | %6s %6s %8s | %s\n", "baud", "wait", "frames",
                "chars", "ms/scan", "size", "frames", "chars", "ms/scan", "frames", "chars", "ms/scan", "saves");
    bool exact = true;
    for (qint32 baud : {9600, 115200}) {
        for (qint32 waitUs : {0, 10000}) {
            ScreenRow row;
            row.line = {baud, waitUs, 64};
            row.plan = planReads(spans, row.line);
            row.planned = plannedScan(row.plan, plc);
            row.rule = bestRuleScan(records, row.line, plc);
            row.ruleAt16 = scanCost(records, 16, plc);
            printScreenRow(row);
            exact = exact && row.planned.characters == row.plan.characters() && row.planned.refused == 0
                    && row.plan.unplanned.isEmpty();
        }
    }
    return exact;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // the module is found beside the program
    std::printf("Load average before: %s\n", qPrintable(loadAverage()));
    RecordingReporter reporter;
    if (!runBenchmarks(&argc, argv, reporter))
        return 1;

    std::printf("\nPlanning, CPU time per plan: mean, standard deviation, least and most of the runs\n");
    for (const auto& [name, runs] : reporter.runs) {
        const Spread spread = spreadOf(runs);
        std::printf("  %-22s %zu runs  %8.3f ms  sd %6.3f ms  (%.3f to %.3f ms)\n", name.c_str(), runs.size(),
                    spread.mean * 1e3, spread.deviation * 1e3, spread.least * 1e3, spread.most * 1e3);
    }
    const bool exact = printSampleScreen();
    std::printf("\nLoad average after: %s\n", qPrintable(loadAverage()));

    std::printf("\nTargets\n");
    const auto large = reporter.runs.find("BM_PlanReads/100000");
    const bool fast = large != reporter.runs.end() && spreadOf(large->second).most < 0.050;
    std::printf("  %-70s %s\n", "planning 100,000 variables: under 50 ms of CPU in every run", fast ? "met" : "NOT MET");
    std::printf("  %-70s %s\n", "sample screen: the module sends exactly the characters of the exact optimum",
                exact ? "met" : "NOT MET");
    return fast && exact ? 0 : 2;
}
