// The list entry points a host thread calls: one-shot reads against a long
// pending list, and the rebuild of the cyclic read list from the host's
// whole variable set.

#include "alloc_counter.h"
#include "bench_driver.h"
#include "host_variables.h"

#include <benchmark/benchmark.h>

namespace {

// One-word D requests at distinct addresses, so none is a duplicate of another.
void fillOnceReadList(Tavrin& driver, int items)
{
    for (int i = 0; i < items; ++i) {
        VarItem item = makeItem(QStringLiteral("D"), i, 1, OpKindRead);
        driver.AddListOnceReadVar(item);
    }
}

// The request repeats the last of 1,000 queued items: the duplicate search
// walks the whole list and queues nothing.
void BM_AddListOnceReadVar_DuplicateOf1000(benchmark::State& state)
{
    BenchDriver bench(32, 0);
    Tavrin& driver = bench.driver();
    fillOnceReadList(driver, 1000);
    const VarItem request = makeItem(QStringLiteral("D"), 999, 1, OpKindRead);
    qint32 queued = 0;
    AllocProbe allocs;
    for (auto _ : state) {
        VarItem item = request;
        queued = driver.AddListOnceReadVar(item);
        benchmark::DoNotOptimize(queued);
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
    state.counters["queued"] = queued;
}

// A new request against 1,000 queued items: the search finds nothing and
// the block is appended. Outside the timing the cycle takes the oldest item
// out (its read given up at once), so the list holds 1,000 again, and the
// next request asks for the next address.
void BM_AddListOnceReadVar_NewAgainst1000(benchmark::State& state)
{
    BenchDriver bench(32, 0);
    Tavrin& driver = bench.driver();
    fillOnceReadList(driver, 1000);
    bench.setRetryLimit(0);
    VarItem request = makeItem(QStringLiteral("D"), 1000, 1, OpKindRead);
    qint32 queued = 0;
    AllocProbe allocs;
    for (auto _ : state) {
        VarItem item = request;
        queued = driver.AddListOnceReadVar(item);
        benchmark::DoNotOptimize(queued);
        state.PauseTiming();
        allocs.pause();
        if (nextFrame(driver))
            driver.DataCom(QByteArray());
        request.Addr = (request.Addr + 1) % 8000;
        allocs.resume();
        state.ResumeTiming();
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
    state.counters["queued"] = queued;
}

void BM_ReCreatReadVarList(benchmark::State& state)
{
    const auto count = static_cast<int>(state.range(0));
    const QList<HostVarDef> vars = mixedHostVariables(count, 20240601u);
    BenchDriver bench(32, 0);
    Tavrin& driver = bench.driver();
    qint32 blocks = 0;
    for (auto _ : state)
        blocks = driver.ReCreatReadVarList(vars);
    state.counters["blocks"] = blocks;
}

} // namespace

BENCHMARK(BM_AddListOnceReadVar_DuplicateOf1000);
BENCHMARK(BM_AddListOnceReadVar_NewAgainst1000);
BENCHMARK(BM_ReCreatReadVarList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
