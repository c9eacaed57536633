// The host's access to values: GetRegisterData alone and against a
// communication thread that decodes replies into the image as fast as it
// can, SetRegisterData into the image and into the write list.

#include "alloc_counter.h"
#include "bench_driver.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

constexpr qint32 ReadWords = 64;

// Runs the read transaction of one D block of `words` words without pause on
// its own thread, the way a host's communication thread polls at line speed
// with an infinitely fast line.
class DecodingThread {
public:
    DecodingThread(Tavrin& driver, qint32 words) : driver_(driver)
    {
        driver_.AddListReadVar(makeItem(QStringLiteral("D"), 0, words, OpKindRead));
        if (RequestFrame* frame = driver_.ComCommunication()) {
            reply_ = dataReplyFor(*frame);
            driver_.DataCom(reply_);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~DecodingThread()
    {
        stop_ = true;
        thread_.join();
    }
    DecodingThread(const DecodingThread&) = delete;
    DecodingThread& operator=(const DecodingThread&) = delete;

    qint64 transactions() const { return transactions_; }

private:
    void run()
    {
        while (!stop_) {
            if (!driver_.ComCommunication())
                continue;
            driver_.DataCom(reply_);
            ++transactions_;
        }
    }

    Tavrin& driver_;
    QByteArray reply_;
    std::atomic<bool> stop_{false};
    std::atomic<qint64> transactions_{0};
    std::thread thread_;
};

void readWords(benchmark::State& state, Tavrin& driver)
{
    const QString name = QStringLiteral("D");
    QByteArray values;
    values.reserve(2 * ReadWords); // the host's array, reused as a display would
    driver.GetRegisterData(name, 0, 0, values, ReadWords);
    AllocProbe allocs;
    for (auto _ : state) {
        driver.GetRegisterData(name, 0, 0, values, ReadWords);
        benchmark::DoNotOptimize(values.constData());
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
}

void BM_GetRegisterData_64Words(benchmark::State& state)
{
    BenchDriver bench(ReadWords, 0);
    readWords(state, bench.driver());
}

void BM_GetRegisterData_64Words_WhileDecoding(benchmark::State& state)
{
    BenchDriver bench(ReadWords, 0);
    DecodingThread decoding(bench.driver(), ReadWords);
    readWords(state, bench.driver());
    state.counters["decodes/s"] =
        benchmark::Counter(static_cast<double>(decoding.transactions()), benchmark::Counter::kIsRate);
}

void BM_GetRegisterData_64Bits(benchmark::State& state)
{
    BenchDriver bench(32, 0);
    Tavrin& driver = bench.driver();
    const QString name = QStringLiteral("M");
    QByteArray values;
    values.reserve(64);
    driver.GetRegisterData(name, 0, 0, values, 64);
    AllocProbe allocs;
    for (auto _ : state) {
        driver.GetRegisterData(name, 0, 0, values, 64);
        benchmark::DoNotOptimize(values.constData());
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
}

// Image-only mode: the write lands in the image and nowhere else.
void BM_SetRegisterData_ImageOnly_64Words(benchmark::State& state)
{
    BenchDriver bench(32, 0);
    Tavrin& driver = bench.driver();
    const QString name = QStringLiteral("D");
    const QByteArray values(2 * ReadWords, '\x5A');
    AllocProbe allocs;
    for (auto _ : state)
        benchmark::DoNotOptimize(driver.SetRegisterData(name, 0, 0, values, ReadWords));
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
}

// Queue mode: every call becomes write items; the list is emptied outside
// the timing before it reaches its 1024-item limit.
void runQueuedWrites(benchmark::State& state, const QString& name, qint32 count,
                     const QByteArray& values, int callsPerBatch)
{
    BenchDriver bench(32, WriteModeQueue);
    int left = callsPerBatch;
    qint64 items = 0;
    qint32 queued = 0; // WriteVarList's size after the last call
    AllocProbe allocs;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            allocs.pause();
            items += queued;
            bench.renew();
            left = callsPerBatch;
            allocs.resume();
            state.ResumeTiming();
        }
        queued = bench.driver().SetRegisterData(name, 0, 0, values, count);
        benchmark::DoNotOptimize(queued);
        --left;
    }
    items += queued;
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
    state.counters["items/op"] =
        state.iterations() ? static_cast<double>(items) / static_cast<double>(state.iterations()) : 0.0;
}

void BM_SetRegisterData_Queued_32Words(benchmark::State& state)
{
    runQueuedWrites(state, QStringLiteral("D"), 32, QByteArray(64, '\x5A'), 1000);
}

void BM_SetRegisterData_Queued_8Bits(benchmark::State& state)
{
    runQueuedWrites(state, QStringLiteral("M"), 8, QByteArray("\x01\x00\x01\x00\x01\x00\x01\x00", 8), 120);
}

} // namespace

BENCHMARK(BM_GetRegisterData_64Words);
BENCHMARK(BM_GetRegisterData_64Words_WhileDecoding)->UseRealTime();
BENCHMARK(BM_GetRegisterData_64Bits);
BENCHMARK(BM_SetRegisterData_ImageOnly_64Words);
BENCHMARK(BM_SetRegisterData_Queued_32Words);
BENCHMARK(BM_SetRegisterData_Queued_8Bits);
