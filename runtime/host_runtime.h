#pragma once

// The host's side of the module's contract, on a line of its own. It owns
// the ComInfo block (block size, station, retry limit, write mode 2), routes
// the module's completion notices to itself, and runs the request cycle on
// its communication thread: ComCommunication, send, collect exactly
// ReplyLength bytes or give up at a timeout that follows the baud rate,
// DataCom. No fixed sleeps: a poll cycle runs at line speed, and the thread
// only waits briefly when the module has nothing to send.
//
// What it adds to the module for a line in a plant:
// - pairing: replies carry no address, so after a failed reply the line must
//   go quiet before the next send (line_discipline.h);
// - a retry budget per request: RetryCount goes back to 0 after every good
//   reply, so a lossy line does not give up requests that failed once;
// - recovery: a lost line (a device server restarting, an adapter unplugged)
//   is reopened with a capped back-off, and what was queued meanwhile fails
//   with the reason instead of waiting or vanishing;
// - read blocks planned by cost (read_planner.h) from a turnaround it
//   measures, planned again when the turnaround moves, and a block the PLC
//   refuses split until the variable at fault is found;
// - quality per polled variable (polled_quality.h) and plain-word reasons
//   for every failure;
// - the port's reach (port_reach.h): a register the port cannot reach
//   without landing on another device is refused, never sent.
//
// The module keeps one driver object per loaded copy (module_instance.h):
// one runtime drives a copy at a time, and a host with several lines gives
// each runtime a copy of its own.

#include "line.h"
#include "line_discipline.h"
#include "module_instance.h"
#include "line_settings.h"
#include "line_statistics.h"
#include "polled_quality.h"
#include "read_planner.h"
#include "tavrin.h"
#include "variable_address.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QThread>
#include <QVector>

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

// How a write or a one-shot read ended.
struct RequestOutcome {
    bool finished = false;   // false: no completion notice within the wait
    bool good = false;
    qint32 failureCode = 0;  // the module's give-up code, 0 when the runtime refused the request itself
    QString error;           // why it failed, in plain words
};

using RequestId = qint64;

enum class LineState {
    Up,           // the PLC answers
    NotAnswering, // requests are given up for want of a (valid) reply
    Lost,         // the line itself failed; it is being reopened
};

struct LineHealth {
    LineState state = LineState::Up;
    QString reason; // why it is not up
};

// What happened to the line, once, as it happened: for a log or a watch.
struct LineEvent {
    enum class Kind { Lost, Back, NotAnswering, Answering, LateReply };
    Kind kind;
    QDateTime at; // UTC
    QString text; // "line lost: tcp:192.0.2.10:4001: the remote host closed the connection; reconnecting"
};

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

    // Hands the module the ComInfo block and the callback, then opens the
    // line on the communication thread, probes it with ENQ when the settings
    // say so, and starts the request cycle. On failure returns false with a
    // message in plain words and leaves nothing running.
    bool start(QString* error);
    // Finishes the exchange in progress and closes the line.
    void stop();

    // Replaces the polled set; returns the number of read blocks planned for
    // it (by the settings' ReadPlanning). The communication thread takes the
    // new blocks between two exchanges. Variables out of the port's reach
    // are left out and marked bad.
    int setPolledVariables(const QList<VariableAddress>& variables);
    // Reads the variables once through planned blocks, as polling does, and
    // gives each one's quality once all were read or given up (Waiting for
    // those `timeoutMs` left unread); the values are then in the image. The
    // polled set is given back afterwards.
    QVector<VariableQuality> readPass(const QList<VariableAddress>& variables, int timeoutMs);
    // The quality of polled variable `index` (in the order given last).
    VariableQuality quality(int index) const;

    // Queues a one-shot read of the variable's registers (AddListOnceReadVar).
    QVector<RequestId> readOnce(const VariableAddress& variable);
    // Queues a write of one value through the module's write list: `values`
    // are the module's value bytes for the variable's registers (one bit, or
    // words up to the block size). Each write gets ids of its own, so its
    // completion notice is its own. A write the runtime refuses itself (an
    // input X, out of reach, too many words, the line down) ends at once
    // with a message.
    RequestId queueWrite(const VariableAddress& variable, const QByteArray& values);
    // Waits for the request's completion notice, at most `timeoutMs`.
    RequestOutcome wait(RequestId id, int timeoutMs);

    // The variable's registers as the module's image holds them (GetRegisterData).
    QByteArray values(const VariableAddress& variable) const;

    LineStatistics statistics() const;
    LineHealth health() const;
    // The line's events since the last call, oldest first.
    QVector<LineEvent> takeLineEvents();
    // ComInfo ScanComplete: a whole pass over the polled set ended well.
    bool scanComplete() const;
    const LineSettings& settings() const { return settings_; }
    // The longest a request can take before it is given up: every try waits
    // for its full timeout (a 64-byte read, the largest request) and then for
    // the line to go quiet.
    int giveUpBudgetMs() const;

private:
    struct Pending {
        bool finished = false;
        bool good = false;
        qint32 failureCode = 0; // a give-up of any of the request's frames
        QString error;
    };
    struct Notice {
        qint32 hostId;
        qint32 hostSubId;
        qint32 status;
    };
    // What one exchange came to, for the bookkeeping after DataCom.
    struct ExchangeEnd {
        qint32 hostId = 0;
        qint32 hostSubId = 0;
        qint32 result = 0;
        QString failure;               // why the reply failed
        bool refused = false;          // the PLC answered NAK
        std::optional<PolledSpan> block; // a cyclic read block's registers
    };

    // A polled set and the blocks planned for it.
    struct PolledPlan {
        QList<VariableAddress> variables;
        QVector<PolledSpan> spans;
        QList<HostVarDef> definitions; // the module's rule: its input
        ReadPlan plan;                 // the planner's blocks
        QSet<int> atFault;             // variables the PLC refused
        qint64 turnaroundUs = 0;       // what the plan was priced with
        bool split = false;            // blocks split after a refusal: kept as they are
        qint64 generation = 0;         // which setPolledVariables made it
    };

    static void completionNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status);
    PolledPlan planFor(const QList<VariableAddress>& variables, qint64 turnaroundUs,
                       const QSet<int>& atFault = {}) const;
    ReadCostModel costModel(qint64 turnaroundUs) const;
    qint64 plannedTurnaroundUs() const; // caller holds stateMutex_
    VariableQuality qualityLocked(int index) const; // caller holds stateMutex_
    bool allSettled() const;                        // caller holds stateMutex_
    bool endOfOnePass();
    int setPolled(const QList<VariableAddress>& variables, bool onePass);
    void applyPlan(const PolledPlan& plan);   // communication thread, between exchanges
    void takePendingPlan();                   // communication thread
    void measureTurnaround(qint64 exchangeUs, int characters);
    void replanIfTurnaroundMoved();
    void isolateRefusal(const PolledSpan& block);

    void run();
    void runCycle();
    void joinThread();
    bool openLine(QString* error);
    bool probe(QString* error);
    void exchange(const RequestFrame& frame);
    void settle(const ExchangeEnd& end);
    void noteHealth(const ExchangeEnd& end);
    void traceExchange(const QByteArray& request, const QByteArray& reply, const QString& outcome) const;
    void traceDropped(const QByteArray& bytes, const char* why) const;
    void noteLateReply();
    // The line failed: fail what waits, reopen with back-off until it comes
    // back or the runtime stops.
    void recover();
    void failQueuedRequests(const QString& reason);
    void addEvent(LineEvent::Kind kind, const QString& text);
    // Points the module at a block that outlives this runtime, and lets
    // another runtime drive it.
    void parkComInfo();
    void idle(bool retryAtOnce);
    void wake();
    void wakeLocked();
    bool waitForWork(int ms);
    RequestId track(qint32 hostId, qint32 hostSubId);
    RequestId refuse(const QString& error);
    QString refusal(const VariableAddress& variable) const;
    int unfinishedRequests() const;
    int countUnfinished() const; // caller holds stateMutex_
    void finishStart(bool ok, const QString& error);

    LineFactory lineFactory_;
    LineSettings settings_;
    std::shared_ptr<ModuleInstance> module_;
    int noticeSlot_ = -1;
    LineDiscipline discipline_;
    std::array<qint32, 32> comInfo_{};
    std::unique_ptr<Line> line_;         // communication thread only
    // The communication thread: a QThread, since the serial port and the
    // TCP socket want one for their notifiers.
    std::unique_ptr<QThread> thread_;
    std::atomic<bool> stopRequested_{false};
    QVector<Notice> notices_;            // communication thread only
    PolledPlan plan_;                    // communication thread only: the blocks the module polls
    bool transactionOpen_ = false;       // communication thread only: a frame waits for its resend
    bool ignoreOpenTransaction_ = false; // communication thread only: it was built before the plan
    qint64 lastReplanCheckMs_ = 0;       // communication thread only
    QElapsedTimer runClock_;             // communication thread only
    std::future<PolledPlan> replanned_;  // communication thread only: a plan made beside the cycle
    int lateRepliesNoted_ = 0;           // communication thread only

    mutable std::mutex stateMutex_;      // guards the members below it
    std::condition_variable stateChanged_;
    QHash<RequestId, Pending> pending_;
    qint32 nextSubId_ = 0;
    LineStatistics statistics_;
    LineHealth health_;
    QVector<LineEvent> events_;
    PolledQuality quality_;
    QList<VariableAddress> polled_;      // the polled set as the caller gave it
    std::optional<PolledPlan> pendingPlan_; // for the communication thread to take
    bool running_ = false;               // the communication thread runs the cycle
    bool onePass_ = false;               // readPass waits: stop polling once all are read
    qint64 planGeneration_ = 0;          // polled sets given
    qint64 appliedGeneration_ = 0;       // of them, the latest the communication thread took
    int appliedBlocks_ = 0;              // and its read blocks
    bool startDone_ = false;
    bool threadDone_ = false;
    bool startOk_ = false;
    QString startError_;

    std::mutex idleMutex_;
    std::condition_variable workArrived_;
    bool workQueued_ = false;
};
