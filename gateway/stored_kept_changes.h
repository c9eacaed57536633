#pragma once

// The Sparkplug face's kept changes in the history store, so that a gateway
// restart while the primary host is away loses nothing that was stored.
// The store records every change anyway; this keeps only where the host is:
//
//   cursor "sparkplug"   every row up to it reached the host, live or as
//                        history; moved while the host is born (hostTook,
//                        a second or two behind, so a restart resends little)
//   take(line)           the line's rows after the cursor, written first if
//                        they still wait in the recorder's queue, as metric
//                        values: a row that is not good, or whose value no
//                        longer fits its tag, is is_null; at most `limit`,
//                        the oldest past it dropped and counted
//
// The cursor is the lowest of the lines' own: a line that is not born holds
// it back, so that its rows wait for its next DBIRTH. A store new to the
// face starts at its last row when opened: rows of earlier runs are not sent.

#include "gateway_config.h"
#include "history_recorder.h"
#include "kept_changes.h"
#include "sparkplug_metrics.h"

class StoredKeptChanges : public KeptChanges {
public:
    StoredKeptChanges(HistoryRecorder& recorder, const GatewayConfig& config,
                      int limit = MemoryKeptChanges::DefaultLimit);

    void keep(const KeptChange&) override {} // the recorder has written it, or will
    QVector<KeptChange> take(int line) override;
    qint64 dropped() const override { return dropped_; }
    void hostTook(const QVector<bool>& bornLines) override;

private:
    void begin();
    void appendRow(int line, const HistoryChange& row, std::deque<KeptChange>* changes);
    void saveCursor();

    HistoryRecorder& recorder_;
    const GatewayConfig& config_;
    const QVector<QVector<SparkplugMetricDef>> metrics_;
    const int limit_;
    qint64 dropped_ = 0;
    bool begun_ = false;
    qint64 cursor_ = 0;       // as saved in the store
    QVector<qint64> sent_;    // per line: its rows up to this id reached the host
    qint64 seen_ = 0;         // the recorder's settled id at the previous hostTook
};
