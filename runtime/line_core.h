#pragma once

// The runtime's core for one line: the request cycle around a copy of the
// module, with every rule a plant's line needs, and no clock, thread or
// port of its own. Its driver (host_runtime.h) feeds it the time and the
// bytes that arrived and puts on the line what it answers; tests feed it a
// fake clock, so a PLC 5 s late is an exact, instant case.
//
// What it adds to the module:
// - pairing by proof (reply_pairing.h): a request goes out only while the
//   line is in step; after a failed reply, probes bring it back in step;
// - the PLC's pace (line_pace.h): timeouts follow the answers it measures;
// - a retry budget per request: RetryCount goes back to 0 after every good
//   reply, so a lossy line does not give up requests that failed once;
// - write outcomes that are proven: a write whose acknowledgement did not
//   come is read back once the line is in step, and reported written or
//   not written; a write of more registers than a block goes as several
//   block writes, each once the one before it was acknowledged;
// - silence is bad at once: when probes go unanswered the line is not
//   answering, and every polled variable turns bad together;
// - read blocks planned by cost (read_planner.h) from the measured
//   turnaround, and a block the PLC refuses split until the variable at
//   fault is found;
// - poll classes: variables polled every so often, each class's blocks
//   planned by cost and sent earliest deadline first (poll_schedule.h);
// - quality per polled variable (polled_quality.h), plain-word reasons for
//   every failure, and the port's reach (port_reach.h).
//
// Not thread-safe: its driver calls it under one lock.

#include "line_pace.h"
#include "line_settings.h"
#include "line_statistics.h"
#include "module_instance.h"
#include "poll_schedule.h"
#include "polled_quality.h"
#include "read_planner.h"
#include "reply_collector.h"
#include "reply_pairing.h"
#include "reply_stream.h"
#include "runtime_events.h"
#include "variable_address.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVector>

#include <array>
#include <limits>
#include <map>
#include <optional>

class LineCore {
public:
    static constexpr qint64 Never = std::numeric_limits<qint64>::max();

    // `persistent`: a line that cannot be opened, or whose PLC does not
    // answer, is tried again with a back-off for as long as the core runs
    // (a gateway); otherwise the first failure ends the start (a command).
    LineCore(const LineSettings& settings, std::shared_ptr<ModuleInstance> module, bool persistent);
    ~LineCore();
    LineCore(const LineCore&) = delete;
    LineCore& operator=(const LineCore&) = delete;

    // Takes the module copy: its ComInfo block and completion notices; and
    // gives it back, for another core to drive. The image stays readable.
    bool attach(QString* error);
    void detach();

    // --- The line, from the driver.
    bool wantsOpen(qint64 nowUs) const;
    void opened(qint64 nowUs, const QString& lineName);
    void openFailed(qint64 nowUs, const QString& error);
    // The line failed (a connection closed, an adapter gone), or a send did.
    void lost(qint64 nowUs, const QString& reason);
    void received(qint64 nowUs, const QByteArray& bytes);
    // Time passed, or work came: sends what is due.
    void advance(qint64 nowUs);
    // The bytes to put on the line now.
    QByteArray takeOutput();
    // When advance() is due at the latest; Never when only bytes or new
    // work can move the core.
    qint64 deadlineUs() const;
    // A reply or a probe's answer is awaited.
    bool awaitingBytes() const;
    // The core gave the stream up (probes of every shape unanswered): the
    // driver closes the line; it is reopened after the back-off.
    bool wantsClose() const { return closeRequested_; }
    void closed(qint64 nowUs);
    // Ends what waits, for good: the runtime stops.
    void shutDown(qint64 nowUs);

    enum class StartState { Opening, Up, Failed };
    StartState startState() const { return startState_; }
    const QString& startError() const { return startError_; }
    // What happened since the last call.
    RuntimeEvents takeEvents();

    // --- The host's requests.
    // `everyMs`: each variable's poll period, 0 (or none given) as fast as
    // the line allows. With no period given the whole set is one class, read
    // round and round as the module's ring does; so it is with the module's
    // own planning (ReadPlanning::Module), which knows no classes.
    int setPolled(const QList<VariableAddress>& variables, bool onePass, qint64 nowUs,
                  const QVector<int>& everyMs = {});
    const QList<VariableAddress>& polled() const { return polled_; }
    const QVector<int>& everyMs() const { return everyMs_; }
    VariableQuality quality(int index) const;
    bool allSettled() const;
    void endOnePass() { onePass_ = false; }
    QVector<RequestId> readOnce(const VariableAddress& variable);
    // `values` are the module's value bytes for the variable's registers:
    // one byte a bit, two a word, four a 32-bit counter.
    RequestId queueWrite(const VariableAddress& variable, const QByteArray& values);
    // The outcome once the request ended, and forgets it.
    std::optional<RequestOutcome> takeOutcome(RequestId id);
    bool knows(RequestId id) const { return requests_.count(id) > 0; }

    QByteArray values(const VariableAddress& variable) const;
    LineStatistics statistics() const;
    LineHealth health() const { return health_; }
    const LinePace& pace() const { return pace_; }
    bool scanComplete() const;
    // Each poll class, fastest first (the class without a period last); the
    // whole set as one class without a period when no period was given.
    QVector<PollClassFigures> pollClasses() const;
    const LineSettings& settings() const { return settings_; }

private:
    enum class Phase {
        Closed,    // no line
        InStep,    // nothing outstanding: the next request may go
        Awaiting,  // a request is out, in step: what comes is its reply
        OutOfStep, // something may still be answered: probing
    };
    struct InFlight {
        QByteArray request;
        int replyLength = 0;
        qint64 sentUs = 0;
        qint64 deadlineUs = 0;
        qint32 hostId = 0;
        qint32 hostSubId = 0;
        std::optional<PolledSpan> block; // a cyclic block's registers
        ReadBlock item;                  // and the block as the module holds it
        std::optional<PollSchedule::Pick> pick; // its poll class's block, when classes are scheduled
        AnswerShape shape;
    };
    // A write or one-shot read the host queued.
    struct Request {
        bool write = false;
        VariableAddress variable;
        QByteArray values;           // a write's bytes, all parts
        int partsDone = 0;           // registers written so far
        int partRegisters = 0;       // registers of the part in the module now
        qint32 subId = -1;           // the module item of the part in the module now
        int moduleItems = 0;         // a one-shot read's items still in the module
        bool sent = false;           // a frame of the part went on the line
        bool silence = false;        // a frame of the part got no proven answer
        int readBacks = 0;           // read-backs tried for the part
        std::optional<RequestId> readBack; // a write's read-back under way
        std::optional<RequestId> settles;  // a read-back: the write it settles
        qint32 failureCode = 0;
        QString error;
        std::optional<RequestOutcome> outcome;
    };
    struct PolledPlan {
        QList<VariableAddress> variables;
        QVector<PolledSpan> spans;
        QList<HostVarDef> definitions; // the module's rule: its input
        ReadPlan plan;                 // the planner's blocks
        // Poll classes: each block's class (an index in classPeriodsUs,
        // fastest first); empty when the set is one class read in the ring.
        QVector<int> blockClass;
        QVector<qint64> classPeriodsUs;
        QSet<int> atFault;             // variables the PLC refused
        qint64 turnaroundUs = 0;       // what the plan was priced with
        bool split = false;            // blocks split after a refusal: kept as they are
        // The module's rule: blocks it made that the PLC refused, split and
        // read beside its own, and the variables they took from it.
        QVector<ReadBlock> splitBlocks;
        QSet<int> takenFromModule;
    };

    static void completionNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status);

    // The cycle.
    void sendNext(qint64 nowUs);
    void sendProbe(qint64 nowUs);
    void put(const QByteArray& frame, bool probe);
    void replyEnded(qint64 nowUs, QByteArray reply); // a copy: the collector goes
    void probeTimedOut(qint64 nowUs);
    void unitArrived(qint64 nowUs, const ReplyUnit& unit);
    void backInStep(qint64 nowUs);
    void leaveStep(qint64 nowUs);
    void noteLateAnswer(qint64 answerUs, qint64 timeoutUs);
    void noteUnanswered(const InFlight& flight);
    // Gives up the frame on the line or waiting for its resend, so that the
    // module's queue is empty for whatever drives the copy next.
    void abandonTransaction();
    void dataComEnded(const InFlight& flight, qint32 result, const QString& failure, bool refused);
    void answering();
    void notAnswering(const QString& reason);
    void giveUpQueued(const QString& reason);
    void scheduleReopen(qint64 nowUs);
    void startEnded(bool ok, const QString& error);
    void addEvent(LineEvent::Kind kind, const QString& text);
    void changed(const PolledSpan& block);
    void changedAll();

    // Requests.
    RequestId newRequest(Request request);
    RequestId refuse(const QString& error);
    QString refusal(const VariableAddress& variable) const;
    void queueNextPart(RequestId id, Request& request);
    void queueReadBack(RequestId id, Request& request);
    void moduleItemEnded(RequestId id, qint32 status, qint32 failureCode, const QString& failure);
    void partEnded(RequestId id, Request& request, bool good, qint32 failureCode, const QString& failure);
    void readBackEnded(RequestId writeId, RequestId readBackId, bool good);
    void finish(RequestId id, Request& request, RequestOutcome outcome);
    void settleUnconfirmed();
    int unfinished() const;

    // Planning.
    PolledPlan planFor(const QList<VariableAddress>& variables, qint64 turnaroundUs,
                       const QSet<int>& atFault = {}) const;
    qint64 plannedTurnaroundUs() const;
    void applyPlan(const PolledPlan& plan);
    void replanIfTurnaroundMoved(qint64 nowUs);
    void isolateRefusal(const PolledSpan& block, const ReadBlock& item);
    bool classesScheduled() const { return !plan_.blockClass.isEmpty(); }
    void planClasses(PolledPlan& polled, const ReadCostModel& model) const;
    QVector<PollSchedule::Class> scheduleClasses(const PolledPlan& plan, qint64 turnaroundUs) const;
    void noteOverbooked();
    void holdScheduledBlock(qint64 nowUs);
    void flatBlockEnded(qint64 nowUs);

    LineSettings settings_;
    std::shared_ptr<ModuleInstance> module_;
    bool persistent_;
    int noticeSlot_ = -1;
    std::array<qint32, 32> comInfo_{};
    LinePace pace_;
    ReplyPairing pairing_;
    ReplyStream stream_;

    Phase phase_ = Phase::Closed;
    QByteArray output_;
    std::optional<ReplyCollector> collector_;
    InFlight flight_;
    qint64 probeDeadlineUs_ = Never;
    bool probeOut_ = false;          // the newest probe awaits its answer
    int probesUnanswered_ = 0;       // in a row, since the last proven answer
    qint64 nextProbeUs_ = 0;
    bool answeredSinceOpen_ = false; // some proven answer came on this stream
    bool closeRequested_ = false;
    qint64 openAtUs_ = 0;            // when the closed line is due to be opened
    int reopenDelayMs_ = 0;
    QString lineName_;               // how the user names the line
    qint64 firstOpenedUs_ = -1;
    int moduleBlocks_ = 0;           // read blocks the module made of the polled set
    qint64 lostUs_ = -1;
    bool lastCallFoundNothing_ = false;
    bool transactionOpen_ = false;       // a frame waits for its resend
    bool ignoreOpenTransaction_ = false; // it was built before the plan
    qint64 lastReplanCheckUs_ = 0;
    int lateAllowanceNotedMs_ = 0;

    StartState startState_ = StartState::Opening;
    QString startError_;
    RuntimeEvents events_;
    QVector<RuntimeEvents::Notice> notices_; // from DataCom, handled after it

    std::map<RequestId, Request> requests_; // stable references while requests are added
    QHash<qint32, RequestId> bySubId_; // module items in flight: HostSubId -> request
    qint32 nextSubId_ = 0;
    LineStatistics statistics_;
    LineHealth health_{LineState::Lost, QStringLiteral("the line is not open yet")};
    bool silentSinceUp_ = false; // not answering after it had answered
    PolledQuality quality_;
    QList<VariableAddress> polled_;
    PolledPlan plan_;
    bool onePass_ = false;
    QVector<int> everyMs_;           // per polled variable, as given
    qint64 nowUs_ = 0;               // the time last fed: when a block's read ended
    PollSchedule schedule_;
    std::optional<PollSchedule::Pick> held_; // the block the module's cyclic list holds
    bool overbookedSaid_ = false;
    // One class read in the ring: its passes, for the same figures.
    qint64 flatBlocksServed_ = 0;
    PassClock flatClock_;
};
