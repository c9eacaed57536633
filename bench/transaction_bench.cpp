// One transaction of the module end to end, as the host's communication
// thread runs it: ComCommunication builds the frame, DataCom checks the
// reply, decodes it into the image and steps the list. The reply is made
// once, before timing, from the first frame.

#include "alloc_counter.h"
#include "bench_driver.h"
#include "image/reply_decoders.h"
#include "protocol/read_requests.h"
#include "protocol/reply_check.h"

#include <benchmark/benchmark.h>

#include <QMutex>
#include <QMutexLocker>

#include <memory>

namespace {

// A cyclic read of one block: the list holds only that block, so every
// transaction reads it again and rotates the one-item list.
void runReadTransactions(benchmark::State& state, const QString& regName, qint32 count)
{
    BenchDriver bench(count, 0);
    Tavrin& driver = bench.driver();
    driver.AddListReadVar(makeItem(regName, 0, count, OpKindRead));
    RequestFrame* first = driver.ComCommunication();
    if (!first) {
        state.SkipWithError("the module built no read frame");
        return;
    }
    const QByteArray reply = dataReplyFor(*first);
    if (driver.DataCom(reply) != ReplyAccepted) {
        state.SkipWithError("the module did not accept the reply");
        return;
    }

    qint64 failures = 0;
    AllocProbe allocs;
    for (auto _ : state) {
        RequestFrame* frame = driver.ComCommunication();
        benchmark::DoNotOptimize(frame);
        failures += driver.DataCom(reply) != ReplyAccepted;
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
    if (failures)
        state.SkipWithError("a reply was refused during the run");
}

// Writes leave their list when they end, so the list is refilled outside the
// timing, a thousand items at a time (the list holds at most 1024).
void runWriteTransactions(benchmark::State& state, const VarItem& item)
{
    BenchDriver bench(32, 0);
    Tavrin& driver = bench.driver();
    const QByteArray reply = ackReply();
    constexpr int batch = 1000;
    int left = 0;
    qint64 failures = 0;
    AllocProbe allocs;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            allocs.pause();
            for (int i = 0; i < batch; ++i)
                driver.AddListWriteVar(item);
            left = batch;
            allocs.resume();
            state.ResumeTiming();
        }
        RequestFrame* frame = nextFrame(driver);
        if (!frame) {
            state.SkipWithError("the module built no write frame");
            return;
        }
        failures += driver.DataCom(reply) != ReplyAccepted;
        --left;
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
    if (failures)
        state.SkipWithError("an ACK was refused during the run");
}

void BM_Transaction_ReadD32Words(benchmark::State& state)
{
    runReadTransactions(state, QStringLiteral("D"), 32);
}

void BM_Transaction_ReadM32Bytes(benchmark::State& state)
{
    runReadTransactions(state, QStringLiteral("M"), 32);
}

void BM_Transaction_ForceM(benchmark::State& state)
{
    runWriteTransactions(state, makeItem(QStringLiteral("M"), 10, 1, OpKindWrite, QByteArray(1, 1)));
}

void BM_Transaction_WriteDWord(benchmark::State& state)
{
    runWriteTransactions(state,
                         makeItem(QStringLiteral("D"), 100, 1, OpKindWrite, QByteArray("\x34\x12", 2)));
}

// The reply check and decode of one 32-word read alone, the part of the
// transaction that touches the image: the reply is judged against the frame
// the read builder makes and decoded under an image lock, again and again.
void BM_ValidateReply_D32Words(benchmark::State& state)
{
    const RequestFrame frame = BuildReadRequest(makeItem(QStringLiteral("D"), 0, 32, OpKindRead)).front();
    const QByteArray reply = dataReplyFor(frame);
    auto image = std::make_unique<RegisterImage>();
    QMutex imageMutex;
    qint64 failures = 0;
    AllocProbe allocs;
    for (auto _ : state) {
        failures += checkReply(frame, reply) != ReplyVerdict::Data;
        QMutexLocker lock(&imageMutex);
        DecodeReply(*image, frame, reply);
    }
    state.counters["allocs/op"] = allocs.perIteration(state.iterations());
    if (failures)
        state.SkipWithError("the reply was refused");
}

} // namespace

BENCHMARK(BM_Transaction_ReadD32Words);
BENCHMARK(BM_ValidateReply_D32Words);
BENCHMARK(BM_Transaction_ReadM32Bytes);
BENCHMARK(BM_Transaction_ForceM);
BENCHMARK(BM_Transaction_WriteDWord);
