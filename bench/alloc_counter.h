#pragma once

// Counts heap allocations made by the calling thread. The program replaces
// malloc, calloc and realloc (alloc_counter.cpp): the global operator new of
// the C++ library allocates through malloc, and so do Qt's strings and byte
// arrays, which a replaced operator new alone would not see.

#include <cstdint>

namespace AllocCounter {
// Allocations made by this thread since it started.
std::uint64_t threadAllocations();
} // namespace AllocCounter

// Allocations of the timed part of a benchmark: pause() and resume() around
// untimed set-up, perIteration() at the end.
class AllocProbe {
public:
    AllocProbe() : start_(AllocCounter::threadAllocations()) {}
    void pause() { excluded_start_ = AllocCounter::threadAllocations(); }
    void resume() { excluded_ += AllocCounter::threadAllocations() - excluded_start_; }
    double perIteration(std::int64_t iterations) const
    {
        const std::uint64_t counted = AllocCounter::threadAllocations() - start_ - excluded_;
        return iterations > 0 ? static_cast<double>(counted) / static_cast<double>(iterations) : 0.0;
    }

private:
    std::uint64_t start_;
    std::uint64_t excluded_start_ = 0;
    std::uint64_t excluded_ = 0;
};
