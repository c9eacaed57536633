#pragma once

// What the history store and the forwarding of what the broker missed
// counted, for the metrics (metrics_text.h). Written by the history
// recorder and the MQTT face from their threads, read by /metrics.

#include <QtGlobal>

#include <atomic>

// A copy at one moment.
struct HistoryFigures {
    bool stored = false;        // the file has a history: section
    qint64 rows = 0;            // changes written to the store
    qint64 removedByAge = 0;    // rows older than keep_days, removed
    qint64 removedBySize = 0;   // the oldest rows, removed to stay within max_mb
    qint64 lost = 0;            // changes never written: the queue was full, or a write failed
    bool forwarding = false;    // an mqtt: section
    qint64 backlog = 0;         // changes the broker has not had yet
    qint64 backlogAgeMs = 0;    // how old the oldest of them is; 0 without a backlog
    qint64 forwarded = 0;       // of them, published on .../history and acknowledged
    qint64 queueDropped = 0;    // without a history store: changes the full memory queue let go
};

struct HistoryCounters {
    std::atomic<bool> stored{false};
    std::atomic<qint64> rows{0};
    std::atomic<qint64> removedByAge{0};
    std::atomic<qint64> removedBySize{0};
    std::atomic<qint64> lost{0};
    std::atomic<bool> forwarding{false};
    std::atomic<qint64> backlog{0};
    std::atomic<qint64> backlogAgeMs{0};
    std::atomic<qint64> forwarded{0};
    std::atomic<qint64> queueDropped{0};

    HistoryFigures figures() const
    {
        return HistoryFigures{stored, rows, removedByAge, removedBySize, lost, forwarding,
                              backlog, backlogAgeMs, forwarded, queueDropped};
    }
};
