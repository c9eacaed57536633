#include "virtual_plc_line.h"

#include "reply_collector.h"

#include <QThread>

#include <algorithm>

namespace {
constexpr qint64 NsPerMs = 1000000;
} // namespace

VirtualPlcLine::VirtualPlcLine(std::shared_ptr<VirtualPlc> plc, const LinePacing& pacing)
    : plc_(std::move(plc))
    , schedule_(pacing)
{
    clock_.start();
}

bool VirtualPlcLine::open(QString* /*error*/)
{
    plc_->resetLine();
    schedule_.clear();
    input_.clear();
    return true;
}

void VirtualPlcLine::sleepUntil(qint64 ns) const
{
    const qint64 waitNs = ns - nowNs();
    if (waitNs > 0)
        QThread::usleep(static_cast<unsigned long>((waitNs + 999) / 1000));
}

void VirtualPlcLine::arrive()
{
    input_ += schedule_.takeDue(nowNs());
}

bool VirtualPlcLine::send(const QByteArray& bytes)
{
    schedule_.add(plc_->receiveReplies(bytes), nowNs());
    return true;
}

QByteArray VirtualPlcLine::collect(int length, int timeoutMs)
{
    const qint64 deadline = nowNs() + qint64(std::max(timeoutMs, 0)) * NsPerMs;
    ReplyCollector collector(length);
    for (;;) {
        arrive();
        const int taken = std::min<int>(static_cast<int>(input_.size()), collector.missing());
        collector.take(input_.left(taken));
        input_.remove(0, taken);
        const qint64 next = schedule_.nextDueNs(deadline + 1);
        if (collector.isComplete() || next > deadline || nowNs() >= deadline)
            break;
        sleepUntil(next);
    }
    if (!collector.isComplete())
        sleepUntil(deadline); // a real line would have waited out the timeout
    return collector.reply();
}

QByteArray VirtualPlcLine::discardInput()
{
    arrive();
    QByteArray dropped;
    dropped.swap(input_);
    return dropped;
}

QByteArray VirtualPlcLine::drainUntilQuiet(int quietMs, int limitMs)
{
    QByteArray dropped = discardInput();
    const qint64 end = nowNs() + qint64(std::max(limitMs, 0)) * NsPerMs;
    const qint64 quietNs = qint64(std::max(quietMs, 0)) * NsPerMs;
    qint64 quietEnd = nowNs() + quietNs;
    for (;;) {
        const qint64 next = schedule_.nextDueNs(end + 1);
        if (next > std::min(quietEnd, end))
            break;
        sleepUntil(next);
        dropped += discardInput();
        quietEnd = next + quietNs;
    }
    sleepUntil(std::min(quietEnd, end));
    return dropped;
}

std::unique_ptr<Line> makeLine(const LineSettings& settings, std::shared_ptr<VirtualPlc> plc,
                               bool paced)
{
    if (settings.port.kind != LineKind::VirtualPlc)
        return makeDeviceLine(settings);
    // Paced, the PLC answers within one scan: a few milliseconds stand for a
    // small program. Unpaced, it answers at once.
    LinePacing pacing;
    if (paced) {
        pacing.baudRate = settings.baud;
        pacing.responseDelayUs = 3000;
    }
    return std::make_unique<VirtualPlcLine>(std::move(plc), pacing);
}
