#pragma once

// The host's side of the module's contract on a line of its own: a thin
// driver around the line's core (line_core.h). It owns the communication
// thread, the port and the real clock; the core owns every rule. The thread
// feeds the core the time and the bytes that arrived, puts on the line what
// the core answers, and waits for the next byte, the core's deadline or new
// work, whichever comes first. Listeners hear what changed on that thread.
//
// The module keeps one driver object per loaded copy (module_instance.h):
// one runtime drives a copy at a time, and a host with several lines gives
// each runtime a copy of its own.

#include "line.h"
#include "line_core.h"
#include "line_settings.h"
#include "line_statistics.h"
#include "module_instance.h"
#include "polled_quality.h"
#include "runtime_events.h"
#include "variable_address.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QThread>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class HostRuntime {
public:
    using LineFactory = std::function<std::unique_ptr<Line>()>;

    // `module` is the copy of the module this runtime drives; null: the
    // shared first copy.
    HostRuntime(LineFactory lineFactory, const LineSettings& settings,
                std::shared_ptr<ModuleInstance> module = nullptr);
    ~HostRuntime();
    HostRuntime(const HostRuntime&) = delete;
    HostRuntime& operator=(const HostRuntime&) = delete;

    // Listeners hear the runtime's events on its thread; add them before
    // start. With listeners, request outcomes are theirs: wait() sees none.
    void addListener(RuntimeListener* listener) { listeners_.append(listener); }

    // Opens the line, probes it when the settings say so, and starts the
    // request cycle. On failure returns false with a message in plain words
    // and leaves nothing running.
    bool start(QString* error);
    // Starts a line that is tried until it answers, and again whenever it is
    // lost: meanwhile it is offline and its variables bad. False only when
    // the module copy cannot be taken.
    bool startPersistent(QString* error);
    // Ends what waits (unconfirmed writes stay so) and closes the line.
    void stop();

    // Replaces the polled set; returns the number of read blocks planned for
    // it (by the settings' ReadPlanning). Variables out of the port's reach
    // are left out and marked bad. `everyMs`: each variable's poll period in
    // ms, 0 (or none given) as fast as the line allows (line_core.h).
    int setPolledVariables(const QList<VariableAddress>& variables, const QVector<int>& everyMs = {});
    // Reads the variables once through planned blocks, as polling does, and
    // gives each one's quality once all were read or given up (Waiting for
    // those `timeoutMs` left unread); the values are then in the image. The
    // polled set is given back afterwards.
    QVector<VariableQuality> readPass(const QList<VariableAddress>& variables, int timeoutMs);
    // The quality of polled variable `index` (in the order given last).
    VariableQuality quality(int index) const;

    // Queues a one-shot read of the variable's registers.
    QVector<RequestId> readOnce(const VariableAddress& variable);
    // Queues a write of the variable's registers: `values` are the module's
    // value bytes for them (one a bit, two a word, four a 32-bit counter).
    // More words than a block go in several block writes, one after the
    // other; the write ends once, with an outcome that is proven. A write
    // the runtime refuses itself (an input X, out of reach, the line down)
    // ends at once with a message.
    RequestId queueWrite(const VariableAddress& variable, const QByteArray& values);
    // Waits for the request's outcome, at most `timeoutMs`.
    RequestOutcome wait(RequestId id, int timeoutMs);

    // The variable's registers as the module's image holds them (GetRegisterData).
    QByteArray values(const VariableAddress& variable) const;

    LineStatistics statistics() const;
    LineHealth health() const;
    // The current answer allowance and the PLC's measured turnaround.
    int allowanceMs() const;
    // The line's events since the last call, oldest first.
    QVector<LineEvent> takeLineEvents();
    // Each poll class's asked and achieved period (LineCore::pollClasses).
    QVector<PollClassFigures> pollClasses() const;
    // ComInfo ScanComplete: a whole pass over the polled set ended well.
    bool scanComplete() const;
    const LineSettings& settings() const { return settings_; }
    // The longest a request can take before it ends: every try waits for
    // its full timeout (a 64-byte read, the largest request) and for a probe.
    int giveUpBudgetMs() const;

private:
    bool launch(bool persistent, QString* error);
    void run();
    qint64 nowUs() const { return clock_.nsecsElapsed() / 1000; }
    // One turn of the thread; false once the runtime is to end.
    bool turn();
    void waitForWork(qint64 untilUs);
    void deliver(const RuntimeEvents& events);
    void wake();

    LineFactory lineFactory_;
    LineSettings settings_;
    std::shared_ptr<ModuleInstance> module_;
    QVector<RuntimeListener*> listeners_;
    std::unique_ptr<Line> line_;         // the communication thread only
    bool lineOpen_ = false;              // the communication thread only
    // A QThread, since the serial port and the TCP socket want one for
    // their notifiers.
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopRequested_{false};
    QElapsedTimer clock_;

    mutable std::mutex mutex_; // guards the core and the members below it
    std::condition_variable changed_;
    std::unique_ptr<LineCore> core_;
    QVector<LineEvent> lineEvents_;
    bool workQueued_ = false;
    bool threadDone_ = false;
};
