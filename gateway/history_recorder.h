#pragma once

// Puts every change the gateway publishes into the history store without
// holding up a line or a face: a change gets its id at once and waits in a
// queue; a writer thread of its own writes the queue in one transaction
// every 250 ms (sooner past 5000 changes), and once a minute removes what
// keep_days and max_mb no longer allow. 8 lines of 300 tags changing at
// every 200 ms scan are 12000 rows a second: in batches, about 15 % of one
// core (docs/performance.md); a transaction per row could not keep up.
//
// The queue holds at most 200000 changes (a minute of such a plant); a
// change past that is lost and counted, as is a batch the disk refused.

#include "gateway_config.h"
#include "gateway_model.h"
#include "history_counters.h"
#include "history_store.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class HistoryRecorder : public GatewayListener {
public:
    using Clock = std::function<qint64()>; // ms since the epoch, UTC

    HistoryRecorder(const GatewayConfig& config, HistoryCounters& counters, Clock clock = Clock());
    ~HistoryRecorder() override;
    HistoryRecorder(const HistoryRecorder&) = delete;
    HistoryRecorder& operator=(const HistoryRecorder&) = delete;

    // Opens the file and starts writing. False with a message naming it.
    bool start(QString* error);
    // Writes what waits and ends the writer.
    void stop();

    // Queues the change; its id, ascending across all lines.
    qint64 record(int line, int tag, const TagState& state);
    // Every change up to this id is written, or lost and counted.
    qint64 settledId() const;
    // The last id in the file when it was opened: changes of an earlier run.
    qint64 openedAtId() const;

    void tagChanged(int line, int tag, const TagState& state) override { record(line, tag, state); }
    void lineChanged(int, const LineStatus&) override {}

    HistoryStore& store() { return store_; }
    // Writes the queue and removes what retention asks for, now (tests).
    void writeNow();

private:
    void run();
    void writeQueue();
    void prune();
    bool pruneDue();

    const GatewayConfig& config_;
    HistoryCounters& counters_;
    const Clock clock_;
    HistoryStore store_;
    std::thread writer_;

    std::mutex writing_; // one batch or pruning at a time; guards the two below
    qint64 prunedAtMs_ = 0;
    bool failing_ = false; // a write failed: said once until one works again

    mutable std::mutex mutex_; // guards the members below it
    std::condition_variable wake_;
    QVector<HistoryChange> queue_;
    qint64 lastId_ = 0;
    qint64 openedAtId_ = 0;
    qint64 settledId_ = 0;
    bool stopping_ = false;
};
