#pragma once

// When the replies of a paced line go out: the line adapters queue each
// reply with its due time and send it when that time has come. Pure: the
// caller supplies the time (nanoseconds on its own monotonic clock).
//
// The line is half duplex like the PLC's port: a reply is due its exchange
// time (line_pacing.h) after the later of "its request arrived" and "the
// previous reply left", so back-to-back requests are answered one after the
// other, never faster than a real line would carry them.

#include "line_pacing.h"
#include "virtual_plc.h"

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include <deque>

class ReplySchedule {
public:
    explicit ReplySchedule(const LinePacing& pacing = LinePacing());

    // Queues the replies to requests that completed at `nowNs`. Dropped
    // (empty) replies send nothing but still occupy the PLC for their time.
    void add(const QVector<PlcReply>& replies, qint64 nowNs);

    bool isEmpty() const { return queue_.empty(); }
    // Due time of the first queued reply; `fallback` when none is queued.
    qint64 nextDueNs(qint64 fallback) const;
    // Removes and returns the bytes of every reply due at or before `nowNs`.
    QByteArray takeDue(qint64 nowNs);
    void clear();

private:
    struct Pending {
        qint64 dueNs;
        QByteArray bytes;
    };

    LinePacing pacing_;
    std::deque<Pending> queue_;
    qint64 lineFreeNs_ = 0;
};
