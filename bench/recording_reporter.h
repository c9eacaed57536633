#pragma once

// The console table of Google Benchmark, with every plain run (no
// aggregates) kept by name for the programs that print their targets and
// spreads after it; and the run of the benchmarks the command line selects.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <map>
#include <string>
#include <vector>

struct Measured {
    double cpuSeconds = 0;
    std::map<std::string, double> counters;
};

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that logs and docs get plain text.
    RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& reports) override
    {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            Measured m;
            m.cpuSeconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& [name, counter] : run.counters)
                m.counters[name] = counter.value;
            runs[run.benchmark_name()].push_back(m);
        }
    }

    // By benchmark name, one per repetition, in the order they ran.
    std::map<std::string, std::vector<Measured>> runs;
};

// Runs the benchmarks the command line selects, reporting to `reporter`;
// false when the command line holds an option Google Benchmark does not know.
inline bool runBenchmarks(int* argc, char** argv, RecordingReporter& reporter)
{
    benchmark::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(*argc, argv))
        return false;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return true;
}
