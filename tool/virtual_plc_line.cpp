#include "virtual_plc_line.h"

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

QByteArray VirtualPlcLine::receive(int timeoutMs)
{
    const qint64 deadline = nowNs() + qint64(std::max(timeoutMs, 0)) * NsPerMs;
    arrive();
    while (input_.isEmpty()) {
        const qint64 next = schedule_.nextDueNs(deadline + 1);
        if (next > deadline) {
            sleepUntil(deadline); // a real line would have waited as long
            break;
        }
        sleepUntil(next);
        arrive();
    }
    QByteArray bytes;
    bytes.swap(input_);
    return bytes;
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
