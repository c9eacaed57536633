#pragma once

// The runtime core on a fake clock against the virtual PLC. What the core
// sends reaches the PLC after its characters' time at the baud rate; each
// reply comes back after the PLC's answer delay (a function of the request's
// number, so a case can make a PLC late, jittery or frozen) and its own
// characters' time. A frozen PLC either swallows what it is sent (a
// powered-off PLC) or, behind a device server that keeps the bytes, answers
// it all when it wakes. Hours of line time run in milliseconds.

#include "line_core.h"
#include "line_timing.h"
#include "test_variables.h"
#include "virtual_plc.h"

#include <QByteArray>
#include <QVector>

#include <functional>
#include <map>
#include <memory>

struct PlcPace {
    // Answer delay of the n-th reply the PLC makes, in microseconds.
    std::function<qint64(int n)> delayUs = [](int) { return qint64(2000); };
    // The PLC hears nothing from `frozenFromUs` until `frozenUntilUs`.
    qint64 frozenFromUs = -1;
    qint64 frozenUntilUs = -1;
    bool holdWhileFrozen = false; // a device server keeps the bytes and hands them over at the end
};

class FakeLine {
public:
    // `copy`: the copy of the module the core drives; null: the shared first copy.
    explicit FakeLine(const LineSettings& settings, const PlcPace& pace = PlcPace(), bool persistent = true,
                      const VirtualPlcOptions& plcOptions = VirtualPlcOptions(),
                      std::shared_ptr<ModuleInstance> copy = nullptr)
        : plc(plcOptions)
        , core(settings, copy ? copy : module(), persistent)
        , pace_(pace)
        , baud_(settings.baud)
    {
        QString error;
        EXPECT_TRUE(core.attach(&error)) << error.toStdString();
        core.opened(now, QStringLiteral("the fake line"));
        runFor(10000000, [this] { return core.startState() != LineCore::StartState::Opening; });
    }

    static std::shared_ptr<ModuleInstance> module()
    {
        QString error;
        auto instance = ModuleInstance::shared(&error);
        EXPECT_TRUE(instance) << error.toStdString();
        return instance;
    }

    // Runs the line until `us` of fake time have passed, or `done` holds.
    void runFor(qint64 us, const std::function<bool()>& done = {})
    {
        const qint64 end = now + us;
        for (;;) {
            core.advance(now);
            if (core.wantsClose()) {
                // A new connection: what the old one carried is gone, as a
                // device server drops it when its connection closes.
                held_.clear();
                arrivals_.clear();
                core.closed(now);
            }
            if (core.wantsOpen(now) && reachable)
                core.opened(now, QStringLiteral("the fake line"));
            else if (core.wantsOpen(now))
                core.openFailed(now, QStringLiteral("connection refused"));
            pump();
            if ((done && done()) || now >= end)
                return;
            qint64 next = std::min(end, core.deadlineUs());
            if (!arrivals_.empty())
                next = std::min(next, arrivals_.begin()->first);
            if (!held_.isEmpty() && pace_.frozenUntilUs > now)
                next = std::min(next, pace_.frozenUntilUs);
            now = std::max(now, next);
            releaseHeld();
            while (!arrivals_.empty() && arrivals_.begin()->first <= now) {
                const QByteArray bytes = arrivals_.begin()->second;
                arrivals_.erase(arrivals_.begin());
                core.received(now, bytes);
                pump();
            }
        }
    }

    // Waits for a request's outcome, in fake time.
    RequestOutcome outcome(RequestId id, qint64 withinUs = 120000000)
    {
        std::optional<RequestOutcome> outcome;
        runFor(withinUs, [&] { return (outcome = core.takeOutcome(id)).has_value(); });
        return outcome.value_or(RequestOutcome());
    }

    // The line itself fails (a device server gone): what it carried goes with it.
    void lose(const QString& reason)
    {
        held_.clear();
        arrivals_.clear();
        core.lost(now, reason);
    }

    VirtualPlc plc;
    bool reachable = true; // false: the line cannot be opened again
    qint64 now = 0;
    QVector<QByteArray> sent; // what the core put on the line, one output at a time
    QVector<qint64> sentAt;   // and when
    LineCore core;

private:
    bool frozen(qint64 at) const { return at >= pace_.frozenFromUs && at < pace_.frozenUntilUs; }

    void pump()
    {
        const QByteArray out = core.takeOutput();
        if (out.isEmpty())
            return;
        sent.append(out);
        sentAt.append(now);
        const qint64 heardAt = now + LineTiming::wireTimeUs(out.size(), baud_);
        if (frozen(heardAt)) {
            if (pace_.holdWhileFrozen)
                held_ += out;
            return;
        }
        hear(out, heardAt);
    }

    void hear(const QByteArray& bytes, qint64 at)
    {
        for (const PlcReply& reply : plc.receiveReplies(bytes)) {
            const qint64 due = std::max(at + pace_.delayUs(replies_++) + reply.extraDelayUs, lastDue_);
            lastDue_ = due + LineTiming::wireTimeUs(reply.bytes.size(), baud_);
            if (!reply.bytes.isEmpty())
                arrivals_.emplace(lastDue_, reply.bytes);
        }
    }

    void releaseHeld()
    {
        if (held_.isEmpty() || frozen(now))
            return;
        const QByteArray bytes = held_;
        held_.clear();
        hear(bytes, now);
    }

    PlcPace pace_;
    qint64 baud_;
    int replies_ = 0;
    qint64 lastDue_ = 0; // the PLC answers in order: no reply overtakes another
    std::multimap<qint64, QByteArray> arrivals_;
    QByteArray held_;
};
