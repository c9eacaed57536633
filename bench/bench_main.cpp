// Runs the micro-benchmarks with the usual console table, then prints the
// targets the module is held to and whether this run meets them.

#include "recording_reporter.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

class TargetTable {
public:
    explicit TargetTable(const std::map<std::string, std::vector<Measured>>& runs) : runs_(runs) {}

    // The last run of the benchmark, or null.
    const Measured* find(const std::string& name) const
    {
        const auto it = runs_.find(name);
        return it == runs_.end() || it->second.empty() ? nullptr : &it->second.back();
    }

    void row(const char* target, const std::string& measured, bool met)
    {
        std::printf("  %-58s %-22s %s\n", target, measured.c_str(), met ? "met" : "NOT MET");
        allMet_ = allMet_ && met;
    }
    void missing(const char* target)
    {
        std::printf("  %-58s %-22s %s\n", target, "(no result)", "NOT MET");
        allMet_ = false;
    }

    void cpuBelow(const char* target, const std::string& name, double limitSeconds)
    {
        const Measured* m = find(name);
        if (!m)
            return missing(target);
        row(target, format("%.3f us", m->cpuSeconds * 1e6), m->cpuSeconds < limitSeconds);
    }
    void noAllocation(const char* target, const std::string& name)
    {
        const Measured* m = find(name);
        const auto it = m ? m->counters.find("allocs/op") : std::map<std::string, double>::const_iterator();
        if (!m || it == m->counters.end())
            return missing(target);
        row(target, format("%.4g allocs/op", it->second), it->second == 0.0);
    }
    void rebuild(const char* target, const char* growthTarget)
    {
        const Measured* small = find("BM_ReCreatReadVarList/10000");
        const Measured* large = find("BM_ReCreatReadVarList/100000");
        if (!small || !large) {
            missing(target);
            return missing(growthTarget);
        }
        row(target, format("%.1f ms", large->cpuSeconds * 1e3), large->cpuSeconds < 0.1);
        const double growth = large->cpuSeconds / small->cpuSeconds;
        row(growthTarget, format("x %.1f", growth), growth < 15.0);
    }
    bool allMet() const { return allMet_; }

private:
    static std::string format(const char* pattern, double value)
    {
        char text[64];
        std::snprintf(text, sizeof text, pattern, value);
        return text;
    }

    const std::map<std::string, std::vector<Measured>>& runs_;
    bool allMet_ = true;
};

} // namespace

int main(int argc, char** argv)
{
    RecordingReporter reporter;
    if (!runBenchmarks(&argc, argv, reporter))
        return 1;

    std::printf("\nTargets of the module's own code\n");
    TargetTable table(reporter.runs);
    table.cpuBelow("one 32-word read transaction: under 2 us of CPU", "BM_Transaction_ReadD32Words", 2e-6);
    table.rebuild("ReCreatReadVarList, 100,000 variables: under 100 ms",
                  "ReCreatReadVarList, 10,000 -> 100,000: grows under x15");
    table.noAllocation("no allocation: GetRegisterData, 64 words", "BM_GetRegisterData_64Words");
    table.noAllocation("no allocation: GetRegisterData, 64 words, while decoding",
                       "BM_GetRegisterData_64Words_WhileDecoding/real_time");
    table.noAllocation("no allocation: GetRegisterData, 64 bits", "BM_GetRegisterData_64Bits");
    table.noAllocation("no allocation: SetRegisterData into the image, 64 words",
                       "BM_SetRegisterData_ImageOnly_64Words");
    table.noAllocation("no allocation: reply check and decode, 32 words", "BM_ValidateReply_D32Words");
    return table.allMet() ? 0 : 2;
}
