#include "virtual_plc_line.h"

#include "reply_collector.h"

#include <QThread>

#include <algorithm>

VirtualPlcLine::VirtualPlcLine(std::shared_ptr<VirtualPlc> plc, const LinePacing& pacing,
                               bool waitLineTime)
    : plc_(std::move(plc))
    , line_(*plc_, pacing)
    , waitLineTime_(waitLineTime)
{
}

bool VirtualPlcLine::open(QString* /*error*/)
{
    plc_->resetLine();
    return true;
}

bool VirtualPlcLine::send(const QByteArray& bytes)
{
    sentAt_.start();
    const InProcessExchange exchange = line_.exchange(bytes);
    pending_ += exchange.reply;
    replyDueNs_ = exchange.lineTimeNs;
    return true;
}

QByteArray VirtualPlcLine::collect(int length, int timeoutMs)
{
    // A reply that a real line would deliver after the timeout (a delay
    // fault, a slow PLC) is lost to this request, as it would be on the wire.
    const qint64 timeoutNs = qint64(std::max(timeoutMs, 0)) * 1000000;
    const bool late = replyDueNs_ > timeoutNs;
    if (waitLineTime_) {
        const qint64 waitNs = std::min(replyDueNs_, timeoutNs) - sentAt_.nsecsElapsed();
        if (waitNs > 0)
            QThread::usleep(static_cast<unsigned long>(waitNs / 1000));
    }
    if (late)
        return {};
    ReplyCollector collector(length);
    collector.take(pending_);
    pending_.remove(0, std::min<int>(static_cast<int>(pending_.size()),
                                     static_cast<int>(collector.reply().size())));
    return collector.reply();
}
