#include "host_runtime.h"

#include "frame_trace.h"
#include "line_timing.h"
#include "log_categories.h"
#include "port_reach.h"
#include "reply_failure.h"
#include "result_codes.h"
#include "value_format.h"

#include "port_protocol.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>

namespace {

// HostIds of the items this runtime queues. Both lie outside 0..11, so the
// module adds nothing to the failure codes of their requests: a write that
// gets no reply reports 41, as a polled block does.
constexpr qint32 WriteHostId = 100;
constexpr qint32 OnceReadHostId = 200;
// The HostId of the read blocks the module makes of the polled set.
constexpr qint32 CyclicBlockHostId = 0;
// First argument of every completion notice: NoticeTagBase plus the slot of
// the runtime it is for, so that one callback serves every module copy.
constexpr qint32 NoticeTagBase = 0x54617600;
constexpr int NoticeSlots = 256;
// How long a new polled set waits for the communication thread to take it:
// one exchange, or a line being reopened.
constexpr int PlanHandOverMs = 30000;
// How often at most the measured turnaround is looked at for a new plan.
constexpr qint64 ReplanCheckMs = 1000;
// How long the thread waits when the module has nothing to send, unless
// new work wakes it earlier.
constexpr unsigned long IdleBackoffMs = 5;
// Largest reply the module's requests can ask for: 255 data bytes.
constexpr int MaxReplyLength = 2 * Port::MaxBlockBytes + Port::DataReplyOverhead;
// Writes the runtime lets wait at once; the module's write list drops
// items silently at 1024.
constexpr int MaxPendingRequests = 1000;
// Reopening a lost line: first after this long, then twice as long each
// time up to the cap, so a device server that restarts is back within
// seconds and a missing one costs one attempt every few seconds.
constexpr int FirstReopenMs = 250;
constexpr int MaxReopenMs = 2000;
// Events kept for takeLineEvents(); older ones are dropped.
constexpr int MaxLineEvents = 100;

std::array<std::atomic<HostRuntime*>, NoticeSlots> noticeSlots{};

int takeNoticeSlot(HostRuntime* runtime)
{
    for (int slot = 0; slot < NoticeSlots; ++slot) {
        HostRuntime* none = nullptr;
        if (noticeSlots[static_cast<size_t>(slot)].compare_exchange_strong(none, runtime))
            return slot;
    }
    return -1;
}

RequestId requestId(qint32 hostId, qint32 hostSubId)
{
    return (RequestId(hostId) << 32) | RequestId(quint32(hostSubId));
}

// The host owns the ComInfo block; the module reads it on this same thread.
void setComInfoWord(std::array<qint32, 32>& block, int word, qint32 value)
{
    __atomic_store_n(&block[static_cast<size_t>(word)], value, __ATOMIC_RELAXED);
}

} // namespace

HostRuntime::HostRuntime(LineFactory lineFactory, const LineSettings& settings,
                         std::shared_ptr<ModuleInstance> module)
    : lineFactory_(std::move(lineFactory))
    , settings_(settings)
    , module_(std::move(module))
    , discipline_(settings.baud, settings.answerAllowanceMs)
{
    QString error; // start() reports it
    if (!module_)
        module_ = ModuleInstance::shared(&error);
}

HostRuntime::~HostRuntime()
{
    stop();
}

void HostRuntime::completionNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    // Runs on the communication thread inside DataCom, with the module's
    // list lock held: only note it here, settle() handles it after DataCom.
    const qint32 slot = tag - NoticeTagBase;
    HostRuntime* runtime = slot >= 0 && slot < NoticeSlots ? noticeSlots[static_cast<size_t>(slot)].load() : nullptr;
    if (runtime)
        runtime->notices_.append(Notice{hostId, hostSubId, status});
}

bool HostRuntime::start(QString* error)
{
    if (!module_ && !(module_ = ModuleInstance::shared(error)))
        return false;
    if (!module_->claim()) {
        *error = QStringLiteral("another runtime already drives this copy of the module");
        return false;
    }
    noticeSlot_ = takeNoticeSlot(this);
    if (noticeSlot_ < 0) {
        module_->release();
        *error = QStringLiteral("more than %1 runtimes in one process").arg(NoticeSlots);
        return false;
    }
    comInfo_.fill(0);
    comInfo_[ComInfoWord::BlockSize] = settings_.blockSize;
    comInfo_[ComInfoWord::StationNo] = settings_.station;
    comInfo_[ComInfoWord::RetryLimit] = settings_.retries;
    comInfo_[ComInfoWord::WriteMode] = WriteModeQueue;
    comInfo_[ComInfoWord::CallbackTag] = NoticeTagBase + noticeSlot_;
    module_->SetComInfo(comInfo_.data());
    module_->RegistCallBackFuncIntf(&HostRuntime::completionNotice, 0);
    module_->ReCreatReadVarList({}); // forget a polled set an earlier runtime left behind

    stopRequested_ = false;
    // The thread starts and ends under the state lock, so that a thread
    // checker sees what was set up before it and what it did before it
    // ended; QThread's own hand-overs happen out of its sight.
    std::unique_lock<std::mutex> lock(stateMutex_);
    startDone_ = false;
    threadDone_ = false;
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
    stateChanged_.wait(lock, [this] { return startDone_; });
    if (startOk_)
        return true;
    *error = startError_;
    lock.unlock();
    joinThread();
    parkComInfo();
    return false;
}

void HostRuntime::joinThread()
{
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        stateChanged_.wait(lock, [this] { return threadDone_; });
    }
    thread_->wait();
    thread_.reset();
}

void HostRuntime::parkComInfo()
{
    std::array<qint32, 32>& resting = module_->restingComInfo();
    resting = comInfo_;
    resting[ComInfoWord::WriteMode] = 0;
    module_->SetComInfo(resting.data());
    noticeSlots[static_cast<size_t>(noticeSlot_)] = nullptr;
    noticeSlot_ = -1;
    module_->release();
}

void HostRuntime::stop()
{
    if (!thread_)
        return;
    stopRequested_ = true;
    wake();
    joinThread();
    parkComInfo();
    std::unique_lock<std::mutex> lock(stateMutex_);
    stateChanged_.notify_all();
}

void HostRuntime::finishStart(bool ok, const QString& error)
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    startDone_ = true;
    startOk_ = ok;
    startError_ = error;
    stateChanged_.notify_all();
}

bool HostRuntime::openLine(QString* error)
{
    if (!line_->open(error))
        return false;
    if (settings_.probe && !probe(error)) {
        line_->close();
        return false;
    }
    return true;
}

void HostRuntime::run()
{
    {
        std::unique_lock<std::mutex> lock(stateMutex_); // what start() set up is seen from here
    }
    runCycle();
    std::unique_lock<std::mutex> lock(stateMutex_);
    threadDone_ = true;
    stateChanged_.notify_all();
}

void HostRuntime::runCycle()
{
    line_ = lineFactory_();
    QString error;
    if (!openLine(&error)) {
        line_.reset();
        finishStart(false, error);
        return;
    }
    runClock_.start();
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        statistics_ = LineStatistics();
        running_ = true;
    }
    finishStart(true, QString());

    bool lastCallFoundNothing = false;
    while (!stopRequested_) {
        {
            std::unique_lock<std::mutex> lock(stateMutex_);
            statistics_.elapsedMs = runClock_.elapsed();
        }
        takePendingPlan();
        if (!line_->isConnected()) {
            recover();
            continue;
        }
        const RequestFrame* frame = module_->ComCommunication();
        if (!frame) {
            // With nothing polled, the module answers null once after five
            // writes in a row even when more wait; ask again at once then.
            idle(!lastCallFoundNothing);
            lastCallFoundNothing = true;
            continue;
        }
        lastCallFoundNothing = false;
        exchange(*frame);
        replanIfTurnaroundMoved();
    }
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        running_ = false;
    }
    takePendingPlan(); // a set given while the thread stopped
    line_->close();
    line_.reset();
}

bool HostRuntime::probe(QString* error)
{
    const QByteArray enquiry(1, Port::ENQ);
    LineDiscipline::Exchange sent;
    const int tries = settings_.retries + 1;
    for (int attempt = 0; attempt < tries; ++attempt) {
        sent = discipline_.exchange(*line_, enquiry, 1);
        traceDropped(sent.stale, "late, dropped before the probe");
        traceExchange(enquiry, sent.reply, QString());
        if (sent.reply.size() == 1 && sent.reply.at(0) == Port::ACK) {
            TAVRIN_DEBUG(hostLog).noquote() << "a PLC answers on" << line_->name();
            return true;
        }
        if (!line_->isConnected())
            break;
        traceDropped(discipline_.settle(*line_), "late, dropped while the line went quiet");
    }
    const QString advice = QStringLiteral("check the port, the cable, the baud rate (%1, 7 data bits, "
                                          "even parity, 1 stop bit) and that the PLC is powered")
                               .arg(settings_.baud);
    if (!line_->isConnected())
        *error = QStringLiteral("%1 closed the line (a serial device server serving another host "
                                "closes new connections): %2")
                     .arg(line_->name(), line_->failure());
    else if (sent.reply.isEmpty())
        *error = QStringLiteral("no PLC answers on %1: no reply to ENQ within %2 ms, %3 tries; %4")
                     .arg(line_->name())
                     .arg(sent.timeoutMs)
                     .arg(tries)
                     .arg(advice);
    else
        *error = QStringLiteral("%1 answered ENQ with %2 instead of ACK; %3")
                     .arg(line_->name(), hexBytes(sent.reply), advice);
    return false;
}

void HostRuntime::traceExchange(const QByteArray& request, const QByteArray& reply, const QString& outcome) const
{
    TAVRIN_DEBUG(framesLog).noquote() << "->" << hexBytes(request) << frameText(request) << describeRequest(request);
    TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(reply) << frameText(reply) << describeReply(reply)
                                     << outcome;
}

void HostRuntime::traceDropped(const QByteArray& bytes, const char* why) const
{
    if (!bytes.isEmpty())
        TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(bytes) << frameText(bytes) << why;
}

void HostRuntime::exchange(const RequestFrame& frame)
{
    // The head frame stays valid until DataCom: copy what we need first.
    const QByteArray request = frame.FrameBytes;
    const int replyLength = qBound(0, frame.ReplyLength, MaxReplyLength);
    ExchangeEnd end;
    end.hostId = frame.Item.HostId;
    end.hostSubId = frame.Item.HostSubId;
    if (end.hostId == CyclicBlockHostId)
        end.block = blockSpan(frame.Item.RegName, frame.Item.Addr, frame.Item.Count);

    QElapsedTimer exchangeClock;
    exchangeClock.start();
    const LineDiscipline::Exchange sent = discipline_.exchange(*line_, request, replyLength);
    const qint64 exchangeUs = exchangeClock.nsecsElapsed() / 1000;
    traceDropped(sent.stale, "late, dropped before the request");
    if (!sent.sent) {
        // A dead line answers nothing; waiting out the timeout keeps the
        // cycle from spinning through its retries.
        TAVRIN_DEBUG(hostLog).noquote() << "cannot send on" << line_->name() << ":" << line_->failure();
        waitForWork(sent.timeoutMs);
    }
    notices_.clear();
    QByteArray reply = sent.reply; // DataCom takes the host's array by reference
    end.result = module_->DataCom(reply);
    traceExchange(request, sent.reply, QStringLiteral("=> ") + describeResult(end.result));

    if (end.result == ReplyAccepted) {
        // Each request gets its own retries: the module counts failed
        // replies across requests until they pass the limit.
        setComInfoWord(comInfo_, ComInfoWord::RetryCount, 0);
        measureTurnaround(exchangeUs, static_cast<int>(request.size() + sent.reply.size()));
    } else {
        end.failure = sent.sent ? describeReplyFailure(sent.reply, replyLength, sent.timeoutMs)
                                : QStringLiteral("cannot send on %1: %2").arg(line_->name(), line_->failure());
        end.refused = classifyReplyFailure(sent.reply, replyLength) == ReplyFailure::Refused;
        if (line_->isConnected()) {
            const QByteArray late = discipline_.settle(*line_);
            traceDropped(late, "late, dropped while the line went quiet");
            if (!late.isEmpty())
                noteLateReply();
        }
    }
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        ++statistics_.framesSent;
        statistics_.bytesSent += request.size();
        statistics_.bytesReceived += sent.reply.size();
        statistics_.wireTimeUs += LineTiming::wireTimeUs(request.size() + sent.reply.size(), settings_.baud);
    }
    // A block built before the polled set changed speaks for no variable of
    // the new set; a refused block of the planner's is split, not lost.
    const bool transactionEnds = end.result != ReplyResend;
    if (ignoreOpenTransaction_)
        end.block.reset();
    if (transactionEnds)
        ignoreOpenTransaction_ = false;
    transactionOpen_ = !transactionEnds;
    const std::optional<PolledSpan> refused = end.block && end.refused && transactionEnds
                                                      && settings_.planning == ReadPlanning::Cost
                                                  ? end.block
                                                  : std::nullopt;
    if (refused)
        end.block.reset(); // its variables wait for the halves
    settle(end);
    if (refused)
        isolateRefusal(*refused);
    if (endOfOnePass())
        applyPlan(PolledPlan()); // read once: nothing left to poll
}

bool HostRuntime::endOfOnePass()
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    if (!onePass_ || pendingPlan_ || appliedGeneration_ < planGeneration_ || !allSettled())
        return false;
    onePass_ = false;
    return true;
}

void HostRuntime::noteLateReply()
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    ++statistics_.lateReplies;
    if (lateRepliesNoted_++ > 0)
        return;
    addEvent(LineEvent::Kind::LateReply,
             QStringLiteral("a reply came about %1 ms after its request, later than its timeout of %2 ms, "
                            "and was dropped; if the PLC is this slow, raise --timeout-ms")
                 .arg(discipline_.lateAnswerMs())
                 .arg(discipline_.lateTimeoutMs()));
}

void HostRuntime::settle(const ExchangeEnd& end)
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    const bool givenUp = end.result != ReplyAccepted && end.result != ReplyResend;
    if (end.result == ReplyAccepted) {
        ++statistics_.goodReplies;
    } else if (end.result == ReplyResend) {
        ++statistics_.retries;
    } else {
        ++statistics_.giveUps;
        statistics_.lastGiveUpCode = end.result;
        TAVRIN_DEBUG(hostLog).noquote() << "request given up:" << end.failure;
        // A one-shot read split into blocks is notified once, with the
        // status of its last block: remember an earlier block's give-up.
        auto it = pending_.find(requestId(end.hostId, end.hostSubId));
        if (it != pending_.end() && !it->finished) {
            it->failureCode = end.result;
            it->error = end.failure;
        }
    }
    if (end.block && (end.result == ReplyAccepted || givenUp))
        quality_.blockEnded(*end.block, end.result == ReplyAccepted, end.failure);
    noteHealth(end);
    for (const Notice& notice : notices_) {
        auto it = pending_.find(requestId(notice.hostId, notice.hostSubId));
        if (it == pending_.end())
            continue;
        it->finished = true;
        it->good = notice.status == CompletionGood && it->failureCode == 0;
        if (!it->good && it->failureCode == 0) {
            it->failureCode = givenUp ? end.result : statistics_.lastGiveUpCode;
            it->error = end.failure;
        }
    }
    notices_.clear();
    stateChanged_.notify_all();
}

void HostRuntime::noteHealth(const ExchangeEnd& end)
{
    // Caller holds stateMutex_. A refusal (NAK) is an answer: the PLC is
    // there and refuses one request, which that request's variables report.
    if (end.result == ReplyAccepted || end.refused) {
        if (health_.state == LineState::NotAnswering) {
            health_ = LineHealth();
            addEvent(LineEvent::Kind::Answering, QStringLiteral("PLC answering again"));
        }
        return;
    }
    if (end.result == ReplyResend || health_.state != LineState::Up || !line_->isConnected())
        return;
    health_ = LineHealth{LineState::NotAnswering, end.failure};
    addEvent(LineEvent::Kind::NotAnswering,
             QStringLiteral("PLC not answering: %1, %2 tries").arg(end.failure).arg(settings_.retries + 1));
}

void HostRuntime::addEvent(LineEvent::Kind kind, const QString& text)
{
    // Caller holds stateMutex_.
    TAVRIN_DEBUG(hostLog).noquote() << text;
    if (events_.size() >= MaxLineEvents)
        events_.removeFirst();
    // UTC: the C library guards the local time zone with a lock a thread
    // checker cannot see; readers turn the time local on their own thread.
    events_.append(LineEvent{kind, QDateTime::currentDateTimeUtc(), text});
}

void HostRuntime::recover()
{
    QString failure = line_->failure(); // the system's sentence, in the middle of ours
    if (!failure.isEmpty())
        failure[0] = failure.at(0).toLower();
    const QString reason = QStringLiteral("line lost: %1: %2").arg(line_->name(), failure);
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        ++statistics_.lineLosses;
        health_ = LineHealth{LineState::Lost, reason};
        quality_.invalidate(reason);
        addEvent(LineEvent::Kind::Lost, reason + QStringLiteral("; reconnecting"));
    }
    line_->close();
    QElapsedTimer downFor;
    downFor.start();
    int backoffMs = FirstReopenMs;
    while (!stopRequested_) {
        failQueuedRequests(reason);
        takePendingPlan(); // a new polled set waits for no line
        if (waitForWork(backoffMs))
            continue; // new work: fail it at once, then wait on
        QString error;
        if (openLine(&error)) {
            std::unique_lock<std::mutex> lock(stateMutex_);
            ++statistics_.reconnects;
            health_ = LineHealth();
            addEvent(LineEvent::Kind::Back, QStringLiteral("line back: %1 reopened after %2 s")
                                               .arg(line_->name())
                                               .arg(downFor.elapsed() / 1000.0, 0, 'f', 1));
            return;
        }
        TAVRIN_DEBUG(hostLog).noquote() << "reopening" << line_->name() << "failed:" << error;
        backoffMs = std::min(2 * backoffMs, MaxReopenMs);
    }
}

void HostRuntime::failQueuedRequests(const QString& reason)
{
    // Every write and one-shot read waiting in the module is given up now,
    // with the reason; a polled block at the head of the queue waits for
    // the line. The module picks writes and one-shot reads first, but never
    // more than five in a row and never ahead of a block already in flight,
    // so blocks are given up too while requests wait behind them.
    for (int step = 0; step < 4 * MaxPendingRequests && unfinishedRequests() > 0; ++step) {
        const RequestFrame* frame = module_->ComCommunication();
        if (!frame)
            continue; // after five writes in a row with nothing polled, the next call serves them
        ExchangeEnd end;
        end.hostId = frame->Item.HostId;
        end.hostSubId = frame->Item.HostSubId;
        end.failure = reason;
        setComInfoWord(comInfo_, ComInfoWord::RetryCount, settings_.retries);
        notices_.clear();
        QByteArray noReply;
        end.result = module_->DataCom(noReply);
        settle(end);
    }
}

int HostRuntime::unfinishedRequests() const
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    return countUnfinished();
}

int HostRuntime::countUnfinished() const
{
    // Caller holds stateMutex_.
    return static_cast<int>(std::count_if(pending_.cbegin(), pending_.cend(),
                                          [](const Pending& pending) { return !pending.finished; }));
}

void HostRuntime::idle(bool retryAtOnce)
{
    if (retryAtOnce && unfinishedRequests() > 0)
        return;
    waitForWork(IdleBackoffMs);
}

bool HostRuntime::waitForWork(int ms)
{
    std::unique_lock<std::mutex> lock(idleMutex_);
    if (!workQueued_ && !stopRequested_)
        workArrived_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)));
    const bool arrived = workQueued_;
    workQueued_ = false;
    return arrived && !stopRequested_;
}

void HostRuntime::wake()
{
    std::unique_lock<std::mutex> lock(idleMutex_);
    workQueued_ = true;
    workArrived_.notify_all();
}

void HostRuntime::wakeLocked()
{
    // Caller holds stateMutex_; the idle lock is only ever taken after it.
    wake();
}

RequestId HostRuntime::track(qint32 hostId, qint32 hostSubId)
{
    const RequestId id = requestId(hostId, hostSubId);
    pending_.insert(id, Pending());
    return id;
}

RequestId HostRuntime::refuse(const QString& error)
{
    // Caller holds stateMutex_.
    const RequestId id = track(WriteHostId, nextSubId_++);
    Pending& pending = pending_[id];
    pending.finished = true;
    pending.error = error;
    return id;
}

QString HostRuntime::refusal(const VariableAddress& variable) const
{
    // Caller holds stateMutex_.
    if (health_.state == LineState::Lost)
        return health_.reason;
    if (countUnfinished() > MaxPendingRequests)
        return QStringLiteral("too many requests waiting");
    return portReachError(variable);
}

namespace {

// The module's rule takes the host's records as they are: its own merge,
// and reads that the host trims so they end on the last unit they need.
QList<HostVarDef> moduleDefinitions(const QList<VariableAddress>& variables)
{
    QList<HostVarDef> definitions;
    for (const VariableAddress& variable : variables) {
        if (!portReachError(variable).isEmpty())
            continue;
        HostVarDef definition;
        definition.AddrText = variable.addrText;
        definition.RegName = variable.regName;
        if (variable.type && variable.type->element == ElementKind::DoubleWord) {
            // One record per 32-bit counter: the module reads a merged block
            // of them as last - first + 1 counters, exactly the ones asked for.
            for (int k = 0; k < variable.registers; ++k) {
                definition.Addr = variable.index + k;
                definition.Length = 2;
                definitions.append(definition);
            }
            continue;
        }
        definition.Addr = variable.index;
        definition.Length = variable.registers;
        // The module reads a D_bit record as (bit + Length) / 16 + 1 words,
        // one word more than its bits need when they end on a word: D7999.0
        // with 16 bits would ask for D7999 and D8000, past the data
        // registers, and the PLC refuses the request. One bit less gives
        // exactly the words that hold the bits.
        if (variable.type && variable.type->id == RegisterKindId::DBit)
            definition.Length = variable.registers - 1;
        definitions.append(definition);
    }
    return definitions;
}

// The turnaround must move this much before a new plan is worth a look.
bool movedEnough(qint64 nowUs, qint64 plannedUs)
{
    return std::abs(nowUs - plannedUs) > std::max<qint64>(1000, plannedUs / 4);
}

bool sameBlocks(const ReadPlan& a, const ReadPlan& b)
{
    if (a.blocks.size() != b.blocks.size())
        return false;
    for (int i = 0; i < a.blocks.size(); ++i) {
        const ReadBlock& x = a.blocks.at(i);
        const ReadBlock& y = b.blocks.at(i);
        if (x.regName != y.regName || x.addr != y.addr || x.count != y.count)
            return false;
    }
    return true;
}

} // namespace

ReadCostModel HostRuntime::costModel(qint64 turnaroundUs) const
{
    ReadCostModel model;
    model.baud = settings_.baud;
    model.turnaroundUs = static_cast<qint32>(std::min<qint64>(turnaroundUs, std::numeric_limits<qint32>::max()));
    return model;
}

HostRuntime::PolledPlan HostRuntime::planFor(const QList<VariableAddress>& variables, qint64 turnaroundUs,
                                             const QSet<int>& atFault) const
{
    PolledPlan polled;
    polled.variables = variables;
    polled.turnaroundUs = turnaroundUs;
    polled.atFault = atFault;
    for (const VariableAddress& variable : variables)
        polled.spans.append(variableSpan(variable));
    if (settings_.planning == ReadPlanning::Module) {
        polled.definitions = moduleDefinitions(variables);
        return polled;
    }
    polled.plan = planReads(polled.spans, costModel(turnaroundUs), atFault);
    return polled;
}

qint64 HostRuntime::plannedTurnaroundUs() const
{
    // Caller holds stateMutex_.
    return settings_.turnaroundMs >= 0 ? qint64(settings_.turnaroundMs) * 1000 : statistics_.turnaroundUs;
}

int HostRuntime::setPolledVariables(const QList<VariableAddress>& variables)
{
    return setPolled(variables, false);
}

int HostRuntime::setPolled(const QList<VariableAddress>& variables, bool onePass)
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    PolledPlan plan = planFor(variables, plannedTurnaroundUs());
    polled_ = variables;
    onePass_ = onePass;
    quality_.reset(variables);
    for (int i = 0; i < variables.size(); ++i) {
        const QString reach = portReachError(variables.at(i));
        if (!reach.isEmpty())
            quality_.refuse(i, reach);
    }
    plan.generation = ++planGeneration_;
    if (!running_) {
        lock.unlock();
        applyPlan(plan);
        return appliedBlocks_;
    }
    // The communication thread takes the plan between two exchanges, so that
    // no frame built before it speaks for the new set.
    pendingPlan_ = std::move(plan);
    wakeLocked();
    stateChanged_.wait_for(lock, std::chrono::milliseconds(PlanHandOverMs),
                           [&] { return appliedGeneration_ >= planGeneration_ || !running_; });
    return appliedGeneration_ >= planGeneration_ ? appliedBlocks_ : pendingPlan_->plan.frames();
}

void HostRuntime::takePendingPlan()
{
    std::optional<PolledPlan> plan;
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        plan.swap(pendingPlan_);
    }
    if (plan)
        applyPlan(*plan);
}

void HostRuntime::applyPlan(const PolledPlan& plan)
{
    // Between two exchanges: the module takes no lock to append, so the
    // cycle must not run meanwhile. A frame of the old blocks still waiting
    // for its resend goes on, but it no longer speaks for the new set.
    int blocks = plan.plan.frames();
    if (settings_.planning == ReadPlanning::Module) {
        blocks = module_->ReCreatReadVarList(plan.definitions);
    } else {
        module_->ReCreatReadVarList({});
        for (const ReadBlock& block : plan.plan.blocks)
            module_->AddListReadVar(readItem(block, settings_.station));
    }
    ignoreOpenTransaction_ = transactionOpen_;
    plan_ = plan;
    std::unique_lock<std::mutex> lock(stateMutex_);
    ++statistics_.plans;
    appliedBlocks_ = blocks;
    appliedGeneration_ = std::max(appliedGeneration_, plan.generation);
    stateChanged_.notify_all();
}

void HostRuntime::measureTurnaround(qint64 exchangeUs, int characters)
{
    const qint64 sampleUs = std::max<qint64>(0, exchangeUs - LineTiming::wireTimeUs(characters, settings_.baud));
    std::unique_lock<std::mutex> lock(stateMutex_);
    qint64& smoothed = statistics_.turnaroundUs;
    // A moving average over about the last eight exchanges.
    smoothed = statistics_.goodReplies == 0 ? sampleUs : smoothed + (sampleUs - smoothed) / 8;
}

void HostRuntime::replanIfTurnaroundMoved()
{
    // Planning a large set takes longer than a frame: it runs beside the
    // cycle, and its blocks are taken between two exchanges when ready.
    if (replanned_.valid()) {
        if (replanned_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        const PolledPlan replanned = replanned_.get();
        if (replanned.generation != plan_.generation || plan_.split)
            return; // the set changed meanwhile
        if (sameBlocks(replanned.plan, plan_.plan)) {
            plan_.turnaroundUs = replanned.turnaroundUs;
            return;
        }
        TAVRIN_DEBUG(hostLog).noquote() << "turnaround" << replanned.turnaroundUs / 1000.0
                                        << "ms: read blocks planned again";
        applyPlan(replanned);
        return;
    }
    if (settings_.planning == ReadPlanning::Module || settings_.turnaroundMs >= 0 || plan_.variables.isEmpty()
        || plan_.split)
        return;
    const qint64 nowMs = runClock_.elapsed();
    if (nowMs - lastReplanCheckMs_ < ReplanCheckMs)
        return;
    lastReplanCheckMs_ = nowMs;
    qint64 turnaroundUs = 0;
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        turnaroundUs = statistics_.turnaroundUs;
        if (pendingPlan_ || !movedEnough(turnaroundUs, plan_.turnaroundUs))
            return;
    }
    replanned_ = std::async(std::launch::async,
                            [this, variables = plan_.variables, turnaroundUs, atFault = plan_.atFault,
                             generation = plan_.generation] {
                                PolledPlan plan = planFor(variables, turnaroundUs, atFault);
                                plan.generation = generation;
                                return plan;
                            });
}

void HostRuntime::isolateRefusal(const PolledSpan& refused)
{
    // A planned block the PLC refused: split it, and when a block of one
    // variable is refused, that variable is at fault and gets its own error.
    int at = -1;
    for (int i = 0; i < plan_.plan.blocks.size() && at < 0; ++i) {
        const ReadBlock& block = plan_.plan.blocks.at(i);
        const PolledSpan span = blockSpan(block.regName, block.addr, block.count);
        if (span.area == refused.area && span.first == refused.first && span.end == refused.end)
            at = i;
    }
    if (at < 0)
        return;
    // The blocks learnt so stay as they are: a new plan could join the
    // halves again and meet the same refusal.
    const ReadBlock block = plan_.plan.blocks.at(at);
    PolledPlan next = plan_;
    next.split = true;
    next.plan.blocks.remove(at);
    const QVector<ReadBlock> halves = splitRefusedBlock(block, plan_.spans);
    for (int k = 0; k < halves.size(); ++k)
        next.plan.blocks.insert(at + k, halves.at(k));
    if (halves.isEmpty()) {
        std::unique_lock<std::mutex> lock(stateMutex_);
        for (const int variable : block.variables) {
            next.atFault.insert(variable);
            quality_.refuse(variable, QStringLiteral("the PLC refused the request (NAK)"));
        }
    }
    applyPlan(next);
}

VariableQuality HostRuntime::quality(int index) const
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    return qualityLocked(index);
}

VariableQuality HostRuntime::qualityLocked(int index) const
{
    // Caller holds stateMutex_.
    VariableQuality quality = quality_.quality(index);
    if (health_.state == LineState::Lost && quality.quality != Quality::Bad)
        quality = {Quality::Bad, health_.reason};
    return quality;
}

QVector<VariableQuality> HostRuntime::readPass(const QList<VariableAddress>& variables, int timeoutMs)
{
    QList<VariableAddress> before;
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        before = polled_;
    }
    // The communication thread stops polling the pass's blocks as soon as
    // every variable is read or given up.
    setPolled(variables, true);
    QVector<VariableQuality> qualities(variables.size());
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        stateChanged_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                               [&] { return allSettled(); });
        onePass_ = false;
        for (int i = 0; i < variables.size(); ++i)
            qualities[i] = qualityLocked(i);
    }
    setPolledVariables(before);
    return qualities;
}

bool HostRuntime::allSettled() const
{
    // Caller holds stateMutex_.
    for (int i = 0; i < quality_.size(); ++i) {
        if (qualityLocked(i).quality == Quality::Waiting)
            return false;
    }
    return true;
}

QVector<RequestId> HostRuntime::readOnce(const VariableAddress& variable)
{
    {
        std::unique_lock<std::mutex> lock(stateMutex_);
        const QString error = refusal(variable);
        if (!error.isEmpty())
            return {refuse(error)};
    }
    VarItem item;
    item.HostId = OnceReadHostId;
    item.OpKind = OpKindRead;
    item.RegName = variable.regName;
    item.AddrText = variable.addrText;
    item.StationNo = settings_.station;
    QVector<VarItem> items;
    if (variable.type && variable.type->element == ElementKind::DoubleWord) {
        // One item per counter (a count of 2 words reads exactly one); each
        // is a request of its own, so no notice can come before all are queued.
        for (int k = 0; k < variable.registers; ++k) {
            item.Addr = variable.index + k;
            item.Count = 2;
            items.append(item);
        }
    } else {
        item.Addr = variable.index;
        item.Count = variable.registers;
        // The module reads bits as ((index mod 8) + Count) / 8 + 1 bytes (16
        // and words for D_bit), one unit more than the bits need when they end
        // on a byte: T255 alone would ask for 0x00DF and 0x00E0, past the
        // timer contacts, and the PLC refuses it. Count - 1 gives exactly the
        // bytes that hold the bits: (7 + 0) / 8 + 1 = 1.
        if (variable.type && variable.type->element == ElementKind::Bit)
            item.Count = variable.registers - 1;
        items.append(item);
    }
    QVector<RequestId> ids;
    for (VarItem& each : items) {
        {
            std::unique_lock<std::mutex> lock(stateMutex_);
            each.HostSubId = nextSubId_++;
            ids.append(track(each.HostId, each.HostSubId));
        }
        module_->AddListOnceReadVar(each);
    }
    wake();
    return ids;
}

RequestId HostRuntime::queueWrite(const VariableAddress& variable, const QByteArray& values)
{
    const ElementKind element = variable.type ? variable.type->element : ElementKind::Word;
    const int count = element == ElementKind::Bit ? 1 : moduleCount(element, variable.registers);
    std::unique_lock<std::mutex> lock(stateMutex_);
    QString error = refusal(variable);
    if (!variable.type || !variable.type->writable)
        error = QStringLiteral("%1 cannot be written: inputs are driven by the hardware").arg(variable.text);
    else if (error.isEmpty() && element != ElementKind::Bit && count > settings_.blockSize)
        error = QStringLiteral("%1 words do not fit one request of at most %2 words").arg(count).arg(settings_.blockSize);
    if (!error.isEmpty())
        return refuse(error);
    const qint32 hostSubId = nextSubId_++;
    const RequestId id = track(WriteHostId, hostSubId);
    lock.unlock();

    // Bits go as one item of one bit (a force, or the read-before-write pair
    // of a D_bit); words as one block write.
    VarItem item;
    item.HostId = WriteHostId;
    item.HostSubId = hostSubId;
    item.OpKind = OpKindWrite;
    item.RegName = variable.regName;
    item.AddrText = variable.addrText;
    item.Addr = variable.index;
    item.StationNo = settings_.station;
    item.Count = count;
    item.Data = values;
    module_->AddListWriteVar(item);
    wake();
    return id;
}

RequestOutcome HostRuntime::wait(RequestId id, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    RequestOutcome outcome;
    stateChanged_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                           [&] { return !pending_.contains(id) || pending_.value(id).finished; });
    auto it = pending_.find(id);
    if (it == pending_.end() || !it->finished)
        return outcome;
    outcome.finished = true;
    outcome.good = it->good;
    outcome.failureCode = it->failureCode;
    outcome.error = it->error;
    if (!outcome.good && outcome.error.isEmpty())
        outcome.error = describeResult(outcome.failureCode);
    pending_.erase(it);
    return outcome;
}

QByteArray HostRuntime::values(const VariableAddress& variable) const
{
    const ElementKind element = variable.type ? variable.type->element : ElementKind::Word;
    QByteArray bytes;
    module_->GetRegisterData(variable.regName, variable.index, settings_.station, bytes,
                    moduleCount(element, variable.registers));
    return bytes;
}

LineStatistics HostRuntime::statistics() const
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    return statistics_;
}

LineHealth HostRuntime::health() const
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    return health_;
}

QVector<LineEvent> HostRuntime::takeLineEvents()
{
    std::unique_lock<std::mutex> lock(stateMutex_);
    QVector<LineEvent> events;
    events.swap(events_);
    return events;
}

bool HostRuntime::scanComplete() const
{
    return __atomic_load_n(&comInfo_[ComInfoWord::ScanComplete], __ATOMIC_RELAXED) == 1;
}

int HostRuntime::giveUpBudgetMs() const
{
    constexpr int LargestRequest = Port::ReadRequestLength;
    const int perTry = discipline_.timeoutMs(LargestRequest, LineTiming::LongestReplyCharacters)
                       + LineTiming::quietPeriodMs(settings_.baud, settings_.answerAllowanceMs);
    return (settings_.retries + 1) * perTry;
}
