#include "fault_injector.h"

#include "port_codec.h"

FaultInjector::FaultInjector(const FaultOptions& options)
    : options_(options), random_(options.seed)
{
}

bool FaultInjector::fires(const FaultRule& rule, quint32 draw) const
{
    if (rule.every > 0 && repliesSeen_ % static_cast<quint64>(rule.every) == 0)
        return true;
    if (!(rule.probability > 0.0)) // also false for NaN
        return false;
    if (rule.probability >= 1.0)
        return true;
    // p = 0.25 fires for draws below 0x40000000.
    const auto threshold = static_cast<quint64>(rule.probability * 4294967296.0);
    return draw < threshold;
}

FaultedReply FaultInjector::apply(const QByteArray& reply)
{
    ++repliesSeen_;
    std::array<quint32, FaultKindCount> draws{};
    for (quint32& draw : draws)
        draw = static_cast<quint32>(random_());

    FaultedReply out;
    out.bytes = reply;
    if (!queued_.empty()) {
        out.faulted = true;
        out.fault = queued_.front();
        queued_.pop_front();
    }
    for (int k = 0; k < FaultKindCount && !out.faulted; ++k) {
        if (fires(options_.rules[static_cast<size_t>(k)], draws[static_cast<size_t>(k)])) {
            out.faulted = true;
            out.fault = static_cast<FaultKind>(k);
            break;
        }
    }
    if (!out.faulted)
        return out;

    ++injected_[static_cast<size_t>(out.fault)];
    switch (out.fault) {
    case FaultKind::Drop:
        out.bytes.clear();
        break;
    case FaultKind::Nak:
        out.bytes = QByteArray(1, PortCodec::NAK);
        break;
    case FaultKind::Truncate:
        out.bytes.truncate(out.bytes.size() / 2);
        break;
    case FaultKind::Corrupt:
        if (!out.bytes.isEmpty()) {
            const int at = static_cast<int>(static_cast<quint32>(random_()) % static_cast<quint32>(out.bytes.size()));
            out.bytes[at] = static_cast<char>(out.bytes.at(at) ^ 0x01);
        }
        break;
    case FaultKind::Delay:
        out.extraDelayUs = qMax<qint64>(options_.delayUs, 0);
        break;
    }
    return out;
}

void FaultInjector::queue(FaultKind kind, int replies)
{
    for (int i = 0; i < replies; ++i)
        queued_.push_back(kind);
}

quint64 FaultInjector::injectedTotal() const
{
    quint64 total = 0;
    for (quint64 n : injected_)
        total += n;
    return total;
}
