#include "alloc_counter.h"

#include <cstddef>

// glibc's own allocator under its internal names; the replacements below
// count and forward to them, and free() of the C library releases the blocks.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
}

namespace {
// Per thread, so that a benchmark counts its own calls and not those of a
// communication thread running beside it. Static TLS of the executable: no
// allocation on first use.
thread_local std::uint64_t allocations = 0;
} // namespace

std::uint64_t AllocCounter::threadAllocations()
{
    return allocations;
}

extern "C" {
void* malloc(std::size_t size) noexcept
{
    ++allocations;
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    ++allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* block, std::size_t size) noexcept
{
    ++allocations;
    return __libc_realloc(block, size);
}
}
