#include "history_recorder.h"

#include "gateway_log.h"
#include "json_payloads.h"

#include <QDateTime>

#include <chrono>

namespace {

constexpr int WriteIntervalMs = 250;
constexpr int EarlyWriteChanges = 5000;
constexpr int MaxQueuedChanges = 200000;
constexpr qint64 PruneIntervalMs = 60 * 1000;
constexpr qint64 DayMs = 24 * 3600 * 1000;

} // namespace

HistoryRecorder::HistoryRecorder(const GatewayConfig& config, HistoryCounters& counters, Clock clock)
    : config_(config), counters_(counters),
      clock_(clock ? clock : Clock([] { return QDateTime::currentMSecsSinceEpoch(); }))
{
}

HistoryRecorder::~HistoryRecorder()
{
    stop();
}

bool HistoryRecorder::start(QString* error)
{
    if (!store_.open(config_.history.path, error))
        return false;
    counters_.stored = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastId_ = store_.lastId();
        openedAtId_ = lastId_;
        settledId_ = lastId_;
        stopping_ = false;
    }
    prune();
    writer_ = std::thread([this] { run(); });
    return true;
}

void HistoryRecorder::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (writer_.joinable())
        writer_.join();
    writeQueue();
}

qint64 HistoryRecorder::record(int line, int tag, const TagState& state)
{
    const LineConfig& lineConfig = config_.lines.at(line);
    HistoryChange change;
    change.line = lineConfig.name;
    change.tag = lineConfig.tags.at(tag).name;
    change.tsMs = state.at.toMSecsSinceEpoch();
    change.good = state.quality == Quality::Good;
    // A single number or bit is kept as a number too, for trends; arrays
    // and text (hex) only as their JSON.
    change.number = change.good ? state.value.number() : std::nullopt;
    change.payload = tagPayload(state);
    std::unique_lock<std::mutex> lock(mutex_);
    change.id = ++lastId_;
    if (queue_.size() >= MaxQueuedChanges) {
        ++counters_.lost;
        return change.id;
    }
    queue_.append(change);
    if (queue_.size() >= EarlyWriteChanges) {
        lock.unlock();
        wake_.notify_all();
    }
    return change.id;
}

qint64 HistoryRecorder::settledId() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return settledId_;
}

qint64 HistoryRecorder::openedAtId() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return openedAtId_;
}

void HistoryRecorder::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, std::chrono::milliseconds(WriteIntervalMs),
                       [this] { return stopping_ || queue_.size() >= EarlyWriteChanges; });
        lock.unlock();
        writeQueue();
        if (pruneDue())
            prune();
        lock.lock();
    }
}

bool HistoryRecorder::pruneDue()
{
    std::lock_guard<std::mutex> one(writing_);
    return clock_() - prunedAtMs_ >= PruneIntervalMs;
}

void HistoryRecorder::writeNow()
{
    writeQueue();
    prune();
}

void HistoryRecorder::writeQueue()
{
    std::lock_guard<std::mutex> one(writing_); // one batch at a time, so that ids settle in order
    QVector<HistoryChange> batch;
    qint64 upTo = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(queue_);
        upTo = lastId_;
    }
    if (!batch.isEmpty()) {
        QString error;
        const bool kept = store_.append(batch, &error);
        (kept ? counters_.rows : counters_.lost) += batch.size();
        if (!kept && !failing_)
            logWarning(QStringLiteral("%1; changes are lost until a write works again (tavrin_gateway_history_lost_total)").arg(error));
        else if (kept && failing_)
            logInfo(QStringLiteral("history %1: written again").arg(config_.history.path));
        failing_ = !kept;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    settledId_ = upTo;
}

void HistoryRecorder::prune()
{
    std::lock_guard<std::mutex> one(writing_);
    const qint64 now = clock_();
    prunedAtMs_ = now;
    const HistoryPruned pruned =
        store_.prune(now - qint64(config_.history.keepDays) * DayMs, qint64(config_.history.maxMb) << 20);
    counters_.removedByAge += pruned.byAge;
    counters_.removedBySize += pruned.bySize;
}
