#include "reply_schedule.h"

ReplySchedule::ReplySchedule(const LinePacing& pacing) : pacing_(pacing) {}

void ReplySchedule::add(const QVector<PlcReply>& replies, qint64 nowNs)
{
    for (const PlcReply& reply : replies) {
        const qint64 start = qMax(nowNs, lineFreeNs_);
        lineFreeNs_ = start
                      + pacing_.exchangeTimeNs(reply.requestCharacters, reply.bytes.size(),
                                               reply.extraDelayUs);
        if (!reply.bytes.isEmpty())
            queue_.push_back(Pending{lineFreeNs_, reply.bytes});
    }
}

qint64 ReplySchedule::nextDueNs(qint64 fallback) const
{
    return queue_.empty() ? fallback : queue_.front().dueNs;
}

QByteArray ReplySchedule::takeDue(qint64 nowNs)
{
    QByteArray due;
    while (!queue_.empty() && queue_.front().dueNs <= nowNs) {
        due += queue_.front().bytes;
        queue_.pop_front();
    }
    return due;
}

void ReplySchedule::clear()
{
    queue_.clear();
    lineFreeNs_ = 0;
}
