#include "line_core.h"

#include "frame_trace.h"
#include "line_timing.h"
#include "log_categories.h"
#include "port_frames.h"
#include "port_protocol.h"
#include "port_reach.h"
#include "reply_failure.h"
#include "result_codes.h"
#include "value_format.h"

#include <algorithm>
#include <atomic>

namespace {

// HostIds of the items this runtime queues. Both lie outside 0..11, so the
// module adds nothing to the failure codes of their requests: a write that
// gets no reply reports 41, as a polled block does.
constexpr qint32 WriteHostId = 100;
constexpr qint32 OnceReadHostId = 200;
// The HostId of the read blocks the module makes of the polled set.
constexpr qint32 CyclicBlockHostId = 0;
// First argument of every completion notice: NoticeTagBase plus the slot of
// the core it is for, so that one callback serves every module copy.
constexpr qint32 NoticeTagBase = 0x54617600;
constexpr int NoticeSlots = 256;
// How often at most the measured turnaround is looked at for a new plan.
constexpr qint64 ReplanCheckUs = 1000000;
// Largest reply the module's requests can ask for: 255 data bytes.
constexpr int MaxReplyLength = 2 * Port::MaxBlockBytes + Port::DataReplyOverhead;
// Requests the runtime lets wait at once; the module's write list drops
// items silently at 1024.
constexpr int MaxPendingRequests = 1000;
// Probes in a row without an answer before the line counts as not
// answering: one lost probe on a lossy line does not flap it.
constexpr int ProbesBeforeSilence = 2;
// While the PLC does not answer, probes go out this far apart at the most.
constexpr qint64 SilentProbeGapUs = 1000000;
// Reopening a line: first after this long, then twice as long each time up
// to the cap, so that a device server that restarts is back within seconds
// and a missing one costs one attempt every few seconds.
constexpr int FirstReopenMs = 250;
constexpr int MaxReopenMs = 5000;
// Probes a command tries at the least before it says no PLC answers.
constexpr int StartProbes = 4;
// Read-backs tried for a write whose acknowledgement did not come.
constexpr int MaxReadBacks = 3;
constexpr int MaxLineEvents = 100;

std::array<std::atomic<LineCore*>, NoticeSlots> noticeSlots{};

int takeNoticeSlot(LineCore* core)
{
    for (int slot = 0; slot < NoticeSlots; ++slot) {
        LineCore* none = nullptr;
        if (noticeSlots[static_cast<size_t>(slot)].compare_exchange_strong(none, core))
            return slot;
    }
    return -1;
}

RequestId requestId(qint32 hostId, qint32 hostSubId)
{
    return (RequestId(hostId) << 32) | RequestId(quint32(hostSubId));
}

// The module reads ComInfo on the driver's thread, inside the calls made here.
void setComInfoWord(std::array<qint32, 32>& block, int word, qint32 value)
{
    __atomic_store_n(&block[static_cast<size_t>(word)], value, __ATOMIC_RELAXED);
}

AnswerShape answerShape(const QByteArray& request, int replyLength)
{
    // Reads are answered with data, writes and forces with ACK.
    const bool read = request.size() > 1 && request.at(1) == Port::CommandRead;
    return read ? AnswerShape{false, (replyLength - Port::DataReplyOverhead) / 2} : AnswerShape{true, 0};
}

qint64 msToUs(qint64 ms)
{
    return ms * 1000;
}

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

// The registers of a variable from `first` on, `count` of them: a part of a
// write. D10.15 + 1 is D11.0; bits, words and counters count one each.
VariableAddress partOf(const VariableAddress& variable, int first, int count)
{
    VariableAddress part = variable;
    part.index = variable.index + first;
    part.registers = count;
    part.text = variable.registerText(first);
    if (variable.type && variable.type->id == RegisterKindId::DBit)
        part.addrText = QStringLiteral("%1.%2").arg(part.index / 16).arg(part.index % 16, 2, 10, QLatin1Char('0'));
    else if (variable.type)
        part.addrText = QString::number(part.index + variable.type->numberOffset, variable.type->numberBase).toUpper();
    return part;
}

int bytesPerRegister(const VariableAddress& variable)
{
    if (!variable.type || variable.type->element == ElementKind::Bit)
        return 1;
    return variable.type->element == ElementKind::DoubleWord ? 4 : 2;
}

} // namespace

LineCore::LineCore(const LineSettings& settings, std::shared_ptr<ModuleInstance> module, bool persistent)
    : settings_(settings)
    , module_(std::move(module))
    , persistent_(persistent)
    , pace_(settings.baud, settings.answerAllowanceMs, settings.learnPace)
{
}

LineCore::~LineCore()
{
    detach();
}

void LineCore::abandonTransaction()
{
    // A frame on the line or waiting for its resend is given up, so that the
    // module's queue is empty for the next runtime that drives this copy.
    for (int tries = 0; tries < 2 && (phase_ == Phase::Awaiting || transactionOpen_); ++tries) {
        if (phase_ == Phase::Awaiting)
            noteUnanswered(flight_);
        setComInfoWord(comInfo_, ComInfoWord::RetryCount, settings_.retries);
        notices_.clear();
        QByteArray noReply;
        const qint32 result = module_->DataCom(noReply);
        phase_ = Phase::Closed;
        dataComEnded(flight_, result, QStringLiteral("the runtime stopped"), false);
    }
}

void LineCore::detach()
{
    if (noticeSlot_ < 0)
        return;
    abandonTransaction();
    giveUpQueued(QStringLiteral("the runtime stopped")); // nothing queued may go out for another
    module_->ReCreatReadVarList({});
    // The module keeps the ComInfo pointer for its whole life: point it at
    // a block that outlives this core, and let another core drive the copy.
    std::array<qint32, 32>& resting = module_->restingComInfo();
    resting = comInfo_;
    resting[ComInfoWord::WriteMode] = 0;
    module_->SetComInfo(resting.data());
    noticeSlots[static_cast<size_t>(noticeSlot_)] = nullptr;
    noticeSlot_ = -1;
    module_->release();
}

bool LineCore::attach(QString* error)
{
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
    module_->RegistCallBackFuncIntf(&LineCore::completionNotice, 0);
    module_->ReCreatReadVarList({}); // forget a polled set an earlier runtime left behind
    return true;
}

void LineCore::completionNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    // Runs inside DataCom with the module's list lock held: only note it.
    const qint32 slot = tag - NoticeTagBase;
    LineCore* core = slot >= 0 && slot < NoticeSlots ? noticeSlots[static_cast<size_t>(slot)].load() : nullptr;
    if (core)
        core->notices_.append(RuntimeEvents::Notice{hostId, hostSubId, status});
}

// --- The line ---------------------------------------------------------------

bool LineCore::wantsOpen(qint64 nowUs) const
{
    return phase_ == Phase::Closed && startState_ != StartState::Failed && nowUs >= openAtUs_;
}

void LineCore::opened(qint64 nowUs, const QString& lineName)
{
    lineName_ = lineName;
    if (firstOpenedUs_ < 0)
        firstOpenedUs_ = nowUs;
    closeRequested_ = false;
    pairing_.clear();
    stream_.clear();
    answeredSinceOpen_ = false;
    probesUnanswered_ = 0;
    if (lostUs_ >= 0) {
        ++statistics_.reconnects;
        addEvent(LineEvent::Kind::Back, QStringLiteral("line back: %1 reopened after %2 s")
                                           .arg(lineName_)
                                           .arg((nowUs - lostUs_) / 1e6, 0, 'f', 1));
        lostUs_ = -1;
    }
    // Up once the PLC answers: at the first probe's answer, or at once
    // when the line is not probed.
    health_ = settings_.probe ? LineHealth{LineState::NotAnswering,
                                           QStringLiteral("waiting for the PLC's first answer on %1").arg(lineName)}
                              : LineHealth();
    events_.lineChanged = true;
    // A new stream owes nothing: in step. With a probe the core also learns
    // that a PLC answers, and how fast, before the first request.
    phase_ = Phase::InStep;
    if (settings_.probe) {
        phase_ = Phase::OutOfStep;
        nextProbeUs_ = nowUs;
    } else {
        startEnded(true, QString());
    }
    advance(nowUs);
}

void LineCore::openFailed(qint64 nowUs, const QString& error)
{
    TAVRIN_DEBUG(hostLog).noquote() << "opening the line failed:" << error;
    if (!persistent_ && startState_ == StartState::Opening) {
        startEnded(false, error);
        return;
    }
    if (health_.state != LineState::Lost) {
        health_ = LineHealth{LineState::Lost, error};
        quality_.invalidate(error);
        changedAll();
        events_.lineChanged = true;
        addEvent(LineEvent::Kind::Lost, error + QStringLiteral("; trying again"));
    }
    giveUpQueued(error);
    scheduleReopen(nowUs);
}

void LineCore::lost(qint64 nowUs, const QString& reason)
{
    if (phase_ == Phase::Closed)
        return;
    ++statistics_.lineLosses;
    lostUs_ = nowUs;
    phase_ = Phase::Closed;
    collector_.reset();
    probeOut_ = false;
    pairing_.clear(); // a new stream comes with the reopened line
    health_ = LineHealth{LineState::Lost, reason};
    events_.lineChanged = true;
    quality_.invalidate(reason);
    changedAll();
    addEvent(LineEvent::Kind::Lost, reason + QStringLiteral("; reconnecting"));
    if (!persistent_)
        startEnded(false, reason);
    giveUpQueued(reason);
    reopenDelayMs_ = 0;
    scheduleReopen(nowUs);
}

void LineCore::closed(qint64 nowUs)
{
    closeRequested_ = false;
    phase_ = Phase::Closed;
    collector_.reset();
    probeOut_ = false;
    pairing_.clear();
    scheduleReopen(nowUs);
}

void LineCore::scheduleReopen(qint64 nowUs)
{
    reopenDelayMs_ = reopenDelayMs_ == 0 ? FirstReopenMs : std::min(2 * reopenDelayMs_, MaxReopenMs);
    openAtUs_ = nowUs + msToUs(reopenDelayMs_);
}

void LineCore::shutDown(qint64 nowUs)
{
    // What is given up because the runtime ends is not the line's doing:
    // the line's figures stay as the line made them.
    const LineStatistics lineFigures = statistics_;
    abandonTransaction();
    giveUpQueued(QStringLiteral("the runtime stopped"));
    statistics_ = lineFigures;
    // Writes still unconfirmed end so: the line is gone before they could
    // be read back.
    QVector<RequestId> open;
    for (const auto& [id, request] : requests_) {
        if (!request.outcome && !request.settles)
            open.append(id);
    }
    for (const RequestId id : open) {
        auto it = requests_.find(id);
        if (it == requests_.end() || it->second.outcome)
            continue;
        Request& request = it->second;
        RequestOutcome outcome;
        outcome.finished = true;
        outcome.unconfirmed = request.write && request.sent;
        outcome.error = outcome.unconfirmed
                            ? QStringLiteral("not confirmed: no acknowledgement came and the runtime stopped "
                                             "before the value could be read back")
                            : QStringLiteral("the runtime stopped");
        finish(id, request, outcome);
    }
    phase_ = Phase::Closed;
    startState_ = startState_ == StartState::Opening ? StartState::Failed : startState_;
    Q_UNUSED(nowUs);
}

QByteArray LineCore::takeOutput()
{
    QByteArray out;
    out.swap(output_);
    return out;
}

bool LineCore::awaitingBytes() const
{
    return phase_ == Phase::Awaiting || (phase_ == Phase::OutOfStep && !pairing_.inStep());
}

qint64 LineCore::deadlineUs() const
{
    switch (phase_) {
    case Phase::Closed:
        return startState_ == StartState::Failed || closeRequested_ ? Never : openAtUs_;
    case Phase::Awaiting:
        return flight_.deadlineUs;
    case Phase::OutOfStep:
        return probeOut_ ? probeDeadlineUs_ : nextProbeUs_;
    case Phase::InStep:
        break;
    }
    // In step: new work, the driver's idle wait or a poll class's next pass moves it.
    if (classesScheduled()) {
        const qint64 releaseUs = schedule_.nextReleaseUs();
        return releaseUs > nowUs_ ? releaseUs : Never;
    }
    return Never;
}

void LineCore::received(qint64 nowUs, const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    nowUs_ = nowUs;
    statistics_.bytesReceived += bytes.size();
    statistics_.wireTimeUs += LineTiming::wireTimeUs(bytes.size(), settings_.baud);
    switch (phase_) {
    case Phase::Awaiting: {
        const qsizetype before = collector_->reply().size();
        collector_->take(bytes);
        const qsizetype surplus = bytes.size() - (collector_->reply().size() - before);
        if (collector_->isComplete()) {
            if (surplus > 0)
                TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(bytes.right(surplus)) << "beyond the reply, dropped";
            replyEnded(nowUs, collector_->reply());
        }
        break;
    }
    case Phase::OutOfStep:
        stream_.take(bytes);
        while (phase_ == Phase::OutOfStep) {
            const std::optional<ReplyUnit> unit = stream_.next();
            if (!unit)
                break;
            unitArrived(nowUs, *unit);
        }
        break;
    case Phase::InStep:
    case Phase::Closed:
        // Nothing was asked: noise on the line. Nothing is outstanding, so it
        // can pass for no request's answer.
        TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(bytes) << frameText(bytes) << "unasked, dropped";
        break;
    }
    advance(nowUs);
}

void LineCore::advance(qint64 nowUs)
{
    nowUs_ = nowUs;
    if (phase_ == Phase::Awaiting && nowUs >= flight_.deadlineUs)
        replyEnded(nowUs, collector_->reply());
    if (phase_ == Phase::OutOfStep) {
        if (probeOut_ && nowUs >= probeDeadlineUs_)
            probeTimedOut(nowUs);
        if (!probeOut_ && !closeRequested_ && nowUs >= nextProbeUs_)
            sendProbe(nowUs);
    }
    if (phase_ == Phase::InStep)
        sendNext(nowUs);
    if (firstOpenedUs_ >= 0)
        statistics_.elapsedMs = (nowUs - firstOpenedUs_) / 1000;
}

void LineCore::put(const QByteArray& frame, bool probe)
{
    output_ += frame;
    ++(probe ? statistics_.probes : statistics_.framesSent);
    statistics_.bytesSent += frame.size();
    statistics_.wireTimeUs += LineTiming::wireTimeUs(frame.size(), settings_.baud);
}

void LineCore::sendNext(qint64 nowUs)
{
    settleUnconfirmed();
    if (classesScheduled() && !transactionOpen_)
        holdScheduledBlock(nowUs);
    const RequestFrame* frame = module_->ComCommunication();
    if (!frame) {
        // With nothing polled, the module answers null once after five
        // writes in a row even when more wait: ask again at once then.
        if (lastCallFoundNothing_ || unfinished() == 0) {
            lastCallFoundNothing_ = true;
            return;
        }
        lastCallFoundNothing_ = true;
        frame = module_->ComCommunication();
        if (!frame)
            return;
    }
    lastCallFoundNothing_ = false;
    // The head frame stays valid until DataCom: copy what is needed.
    flight_ = InFlight();
    flight_.request = frame->FrameBytes;
    flight_.replyLength = qBound(0, frame->ReplyLength, MaxReplyLength);
    flight_.hostId = frame->Item.HostId;
    flight_.hostSubId = frame->Item.HostSubId;
    flight_.shape = answerShape(flight_.request, flight_.replyLength);
    if (flight_.hostId == CyclicBlockHostId)
    {
        flight_.block = blockSpan(frame->Item.RegName, frame->Item.Addr, frame->Item.Count);
        flight_.item = ReadBlock{frame->Item.RegName, frame->Item.Addr, frame->Item.Count, {}};
        if (classesScheduled())
            flight_.pick = held_;
    }
    flight_.sentUs = nowUs;
    flight_.deadlineUs = nowUs + pace_.timeoutUs(static_cast<int>(flight_.request.size()), flight_.replyLength);
    const auto owner = bySubId_.constFind(flight_.hostSubId);
    if (flight_.hostId != CyclicBlockHostId && owner != bySubId_.cend()) {
        auto request = requests_.find(*owner);
        if (request != requests_.end())
            request->second.sent = true;
    }
    collector_.emplace(flight_.replyLength);
    phase_ = Phase::Awaiting;
    put(flight_.request, false);
}

void LineCore::replyEnded(qint64 nowUs, QByteArray reply)
{
    nowUs_ = nowUs;
    const InFlight flight = flight_;
    collector_.reset();
    notices_.clear();
    QByteArray moduleReply = reply; // DataCom takes the host's array by reference
    const qint32 result = module_->DataCom(moduleReply);
    const int timeoutMs = static_cast<int>((flight.deadlineUs - flight.sentUs + 999) / 1000);
    TAVRIN_DEBUG(framesLog).noquote() << "->" << hexBytes(flight.request) << frameText(flight.request)
                                      << describeRequest(flight.request);
    TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(reply) << frameText(reply) << describeReply(reply)
                                      << "=>" << describeResult(result);
    const bool refused = classifyReplyFailure(reply, flight.replyLength) == ReplyFailure::Refused;
    QString failure;
    if (result == ReplyAccepted) {
        // Each request gets its own retries: the module counts failed
        // replies across requests until they pass the limit.
        setComInfoWord(comInfo_, ComInfoWord::RetryCount, 0);
        pace_.answered(nowUs - flight.sentUs, static_cast<int>(flight.request.size()), static_cast<int>(reply.size()));
        answeredSinceOpen_ = true;
        phase_ = Phase::InStep;
    } else {
        failure = describeReplyFailure(reply, flight.replyLength, timeoutMs);
        if (refused) {
            phase_ = Phase::InStep; // a NAK is the whole answer: nothing more is coming
        } else {
            // The reply may still come, or the rest of it: out of step.
            noteUnanswered(flight);
            pairing_.sent(ReplyPairing::Sent{flight.shape, static_cast<int>(flight.request.size()), flight.sentUs,
                                              flight.deadlineUs, false});
            leaveStep(nowUs);
        }
    }
    dataComEnded(flight, result, failure, refused);
    if (phase_ == Phase::InStep)
        replanIfTurnaroundMoved(nowUs);
}

void LineCore::noteUnanswered(const InFlight& flight)
{
    // A write's frame that got no proven answer may have landed.
    const auto owner = bySubId_.constFind(flight.hostSubId);
    if (owner != bySubId_.cend() && requests_.count(*owner))
        requests_.at(*owner).silence = true;
}

void LineCore::dataComEnded(const InFlight& flight, qint32 result, const QString& failure, bool refused)
{
    const bool givenUp = result != ReplyAccepted && result != ReplyResend;
    if (result == ReplyAccepted) {
        ++statistics_.goodReplies;
    } else if (result == ReplyResend) {
        ++statistics_.retries;
    } else {
        ++statistics_.giveUps;
        statistics_.lastGiveUpCode = result;
        TAVRIN_DEBUG(hostLog).noquote() << "request given up:" << failure;
    }
    // A block built before the polled set changed speaks for no variable of
    // the new set; a refused block of the planner's is split, not lost.
    const bool transactionEnds = result != ReplyResend;
    std::optional<PolledSpan> block = ignoreOpenTransaction_ ? std::nullopt : flight.block;
    if (transactionEnds)
        ignoreOpenTransaction_ = false;
    transactionOpen_ = !transactionEnds;
    const bool split = block && refused && transactionEnds;
    if (block && transactionEnds) {
        if (flight.pick)
            schedule_.served(*flight.pick, nowUs_);
        else if (!classesScheduled())
            flatBlockEnded(nowUs_);
    }
    if (block && !split && (result == ReplyAccepted || givenUp)) {
        quality_.blockEnded(*block, result == ReplyAccepted, failure);
        changed(*block);
    }
    if (result == ReplyAccepted || refused)
        answering();
    const QVector<RuntimeEvents::Notice> notices = notices_;
    notices_.clear();
    for (const RuntimeEvents::Notice& notice : notices) {
        const auto owner = bySubId_.constFind(notice.hostSubId);
        if (owner == bySubId_.cend())
            continue;
        const RequestId id = *owner;
        bySubId_.remove(notice.hostSubId);
        moduleItemEnded(id, notice.status, givenUp ? result : statistics_.lastGiveUpCode,
                        givenUp ? failure : QString());
    }
    if (split)
        isolateRefusal(*block, flight.item);
    if (onePass_ && allSettled()) {
        onePass_ = false;
        applyPlan(PolledPlan()); // read once: nothing left to poll
    }
}

// --- Back in step -----------------------------------------------------------

void LineCore::leaveStep(qint64 nowUs)
{
    phase_ = Phase::OutOfStep;
    probeOut_ = false;
    nextProbeUs_ = nowUs;
    stream_.clear();
}

void LineCore::sendProbe(qint64 nowUs)
{
    const int bytes = pairing_.probeBytes();
    if (bytes == 0) {
        // Every probe shape is out and none came back: the stream itself is
        // stuck (a device server holding what it was sent). Start a new one.
        notAnswering(QStringLiteral("no reply to %1 probes").arg(pairing_.outstanding()));
        closeRequested_ = true;
        return;
    }
    const QByteArray probe = readRequestFrame(ProbeByteAddress, bytes);
    const int replyLength = 2 * bytes + Port::DataReplyOverhead;
    probeDeadlineUs_ = nowUs + pace_.timeoutUs(static_cast<int>(probe.size()), replyLength);
    pairing_.sent(ReplyPairing::Sent{AnswerShape{false, bytes}, static_cast<int>(probe.size()), nowUs,
                                     probeDeadlineUs_, true});
    probeOut_ = true;
    TAVRIN_DEBUG(framesLog).noquote() << "->" << hexBytes(probe) << frameText(probe) << "probe:"
                                      << describeRequest(probe);
    put(probe, true);
}

void LineCore::probeTimedOut(qint64 nowUs)
{
    probeOut_ = false;
    ++probesUnanswered_;
    const int timeoutMs = static_cast<int>((probeDeadlineUs_ - pairing_.requests().last().sentUs + 999) / 1000);
    const QString why = QStringLiteral("no reply within %1 ms").arg(timeoutMs);
    // The first probes are not bound by the retry limit: a late answer to any
    // of them is proven, and a slow line at start is no reason to give up.
    if (startState_ == StartState::Opening && !persistent_ && !answeredSinceOpen_
        && probesUnanswered_ >= std::max(settings_.retries + 1, StartProbes)) {
        startEnded(false, QStringLiteral("no PLC answers on %1: no reply to a read of D0 within %2 ms, "
                                         "%3 tries; check the port, the cable, the baud rate (%4, 7 data bits, "
                                         "even parity, 1 stop bit) and that the PLC is powered")
                              .arg(lineName_)
                              .arg(timeoutMs)
                              .arg(probesUnanswered_)
                              .arg(settings_.baud));
        return;
    }
    if (probesUnanswered_ >= ProbesBeforeSilence)
        notAnswering(why);
    // While it is silent, probe at a slower pace: each unanswered probe
    // takes one of the shapes that prove the line back in step.
    nextProbeUs_ = health_.state == LineState::NotAnswering
                       ? nowUs + std::min<qint64>(SilentProbeGapUs, msToUs(FirstReopenMs) * probesUnanswered_)
                       : nowUs;
}

void LineCore::unitArrived(qint64 nowUs, const ReplyUnit& unit)
{
    const ReplyPairing::Proof proof = pairing_.arrived(unit);
    if (!proof.proven) {
        TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(unit.bytes) << frameText(unit.bytes)
                                          << "late, answers no request it can be proven to, dropped";
        return;
    }
    const ReplyPairing::Sent& request = proof.request;
    const qint64 answerUs = nowUs - request.sentUs;
    pace_.answered(answerUs, request.requestLength, static_cast<int>(unit.bytes.size()));
    answeredSinceOpen_ = true;
    probesUnanswered_ = 0;
    if (nowUs > request.deadlineUs)
        noteLateAnswer(answerUs, request.deadlineUs - request.sentUs);
    TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(unit.bytes) << frameText(unit.bytes)
                                      << (request.probe ? "answers the probe" : "answers the failed request, late");
    if (pairing_.inStep())
        backInStep(nowUs);
}

void LineCore::noteLateAnswer(qint64 answerUs, qint64 timeoutUs)
{
    ++statistics_.lateReplies;
    const int answerMs = static_cast<int>((answerUs + 999) / 1000);
    const int allowanceMs = pace_.allowanceMs();
    if (allowanceMs <= lateAllowanceNotedMs_ * 3 / 2)
        return; // said already, for about this pace
    lateAllowanceNotedMs_ = std::max(allowanceMs, 1);
    const int timeoutMs = static_cast<int>((timeoutUs + 999) / 1000);
    addEvent(LineEvent::Kind::LateReply,
             pace_.learns()
                 ? QStringLiteral("the PLC answers in about %1 ms, later than the timeout of %2 ms: "
                                  "requests now wait %3 ms for it")
                       .arg(answerMs)
                       .arg(timeoutMs)
                       .arg(allowanceMs)
                 : QStringLiteral("the PLC answers in about %1 ms, later than the timeout of %2 ms set by "
                                  "--timeout-ms; raise it, or leave it out to follow the PLC's pace")
                       .arg(answerMs)
                       .arg(timeoutMs));
}

void LineCore::backInStep(qint64 nowUs)
{
    phase_ = Phase::InStep;
    probeOut_ = false;
    stream_.clear();
    reopenDelayMs_ = 0;
    answering();
    if (startState_ == StartState::Opening)
        startEnded(true, QString());
    Q_UNUSED(nowUs);
}

void LineCore::answering()
{
    if (health_.state != LineState::NotAnswering)
        return;
    if (silentSinceUp_)
        addEvent(LineEvent::Kind::Answering, QStringLiteral("PLC answering again"));
    silentSinceUp_ = false;
    health_ = LineHealth();
    events_.lineChanged = true;
}

void LineCore::notAnswering(const QString& reason)
{
    const QString text = QStringLiteral("PLC not answering: %1").arg(reason);
    if (health_.state == LineState::Lost || (health_.state == LineState::NotAnswering && silentSinceUp_))
        return;
    if (health_.state == LineState::Up)
        addEvent(LineEvent::Kind::NotAnswering, text);
    silentSinceUp_ = true;
    health_ = LineHealth{LineState::NotAnswering, text};
    events_.lineChanged = true;
    quality_.invalidate(text);
    changedAll();
    giveUpQueued(text);
}

void LineCore::giveUpQueued(const QString& reason)
{
    // Every write and one-shot read waiting in the module is given up now,
    // with the reason; one already on the line stays unconfirmed until it is
    // read back. The module picks writes and one-shot reads first, but never
    // more than five in a row and never ahead of a block already in flight,
    // so blocks are given up too while requests wait behind them.
    for (int step = 0; step < 4 * MaxPendingRequests && !bySubId_.isEmpty(); ++step) {
        const RequestFrame* frame = module_->ComCommunication();
        if (!frame)
            continue; // after five writes in a row with nothing polled, the next call serves them
        InFlight flight;
        flight.hostId = frame->Item.HostId;
        flight.hostSubId = frame->Item.HostSubId;
        setComInfoWord(comInfo_, ComInfoWord::RetryCount, settings_.retries);
        notices_.clear();
        QByteArray noReply;
        const qint32 result = module_->DataCom(noReply);
        dataComEnded(flight, result, reason, false);
    }
    transactionOpen_ = false;
}

void LineCore::startEnded(bool ok, const QString& error)
{
    if (startState_ != StartState::Opening)
        return;
    events_.lineChanged = true;
    startState_ = ok ? StartState::Up : StartState::Failed;
    startError_ = error;
}

void LineCore::addEvent(LineEvent::Kind kind, const QString& text)
{
    TAVRIN_DEBUG(hostLog).noquote() << text;
    if (events_.lineEvents.size() >= MaxLineEvents)
        events_.lineEvents.removeFirst();
    // UTC: the C library guards the local time zone with a lock a thread
    // checker cannot see; readers turn the time local on their own thread.
    events_.lineEvents.append(LineEvent{kind, QDateTime::currentDateTimeUtc(), text});
}

RuntimeEvents LineCore::takeEvents()
{
    RuntimeEvents events;
    std::swap(events, events_);
    std::sort(events.polledChanged.begin(), events.polledChanged.end());
    events.polledChanged.erase(std::unique(events.polledChanged.begin(), events.polledChanged.end()),
                               events.polledChanged.end());
    return events;
}

void LineCore::changed(const PolledSpan& block)
{
    for (int i = 0; i < plan_.spans.size(); ++i) {
        if (plan_.spans.at(i).overlaps(block))
            events_.polledChanged.append(i);
    }
}

void LineCore::changedAll()
{
    for (int i = 0; i < polled_.size(); ++i)
        events_.polledChanged.append(i);
}

// --- Requests ---------------------------------------------------------------

RequestId LineCore::newRequest(Request request)
{
    const RequestId id = requestId(request.write ? WriteHostId : OnceReadHostId, nextSubId_++);
    requests_.emplace(id, std::move(request));
    return id;
}

RequestId LineCore::refuse(const QString& error)
{
    Request request;
    request.write = true;
    const RequestId id = newRequest(request);
    RequestOutcome outcome;
    outcome.finished = true;
    outcome.error = error;
    finish(id, requests_.at(id), outcome);
    return id;
}

QString LineCore::refusal(const VariableAddress& variable) const
{
    if (health_.state != LineState::Up)
        return health_.reason;
    if (unfinished() > MaxPendingRequests)
        return QStringLiteral("too many requests waiting");
    return portReachError(variable);
}

int LineCore::unfinished() const
{
    return static_cast<int>(std::count_if(requests_.cbegin(), requests_.cend(),
                                          [](const auto& entry) { return !entry.second.outcome; }));
}

QVector<RequestId> LineCore::readOnce(const VariableAddress& variable)
{
    const QString error = refusal(variable);
    if (!error.isEmpty())
        return {refuse(error)};
    VarItem item;
    item.HostId = OnceReadHostId;
    item.OpKind = OpKindRead;
    item.RegName = variable.regName;
    item.AddrText = variable.addrText;
    item.StationNo = settings_.station;
    QVector<VarItem> items;
    if (variable.type && variable.type->element == ElementKind::DoubleWord) {
        // One item per counter (a count of 2 words reads exactly one).
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
    Request request;
    request.variable = variable;
    request.moduleItems = static_cast<int>(items.size());
    const RequestId id = newRequest(request);
    for (VarItem& each : items) {
        each.HostSubId = nextSubId_++;
        bySubId_.insert(each.HostSubId, id);
        module_->AddListOnceReadVar(each);
    }
    return {id};
}

RequestId LineCore::queueWrite(const VariableAddress& variable, const QByteArray& values)
{
    QString error = refusal(variable);
    if (!variable.type || !variable.type->writable)
        error = QStringLiteral("%1 cannot be written: inputs are driven by the hardware").arg(variable.text);
    else if (error.isEmpty() && values.size() != qsizetype(variable.registers) * bytesPerRegister(variable))
        error = QStringLiteral("%1 takes %2 bytes of values, not %3")
                    .arg(variable.text)
                    .arg(variable.registers * bytesPerRegister(variable))
                    .arg(values.size());
    if (!error.isEmpty())
        return refuse(error);
    Request request;
    request.write = true;
    request.variable = variable;
    request.values = values;
    const RequestId id = newRequest(request);
    queueNextPart(id, requests_.at(id));
    return id;
}

void LineCore::queueNextPart(RequestId id, Request& request)
{
    // Bits go one at a time (a force, or the read-before-write pair of a
    // D_bit); words and counters in block writes of at most the block
    // size, each once the one before it was acknowledged, so a failure
    // leaves nothing after it written.
    const VariableAddress& variable = request.variable;
    const ElementKind element = variable.type->element;
    const int perBlock = element == ElementKind::Bit         ? 1
                         : element == ElementKind::DoubleWord ? std::max(1, settings_.blockSize / 2)
                                                              : settings_.blockSize;
    const int count = std::min(perBlock, variable.registers - request.partsDone);
    const VariableAddress part = partOf(variable, request.partsDone, count);
    const int unit = bytesPerRegister(variable);
    VarItem item;
    item.HostId = WriteHostId;
    item.HostSubId = nextSubId_++;
    item.OpKind = OpKindWrite;
    item.RegName = part.regName;
    item.AddrText = part.addrText;
    item.Addr = part.index;
    item.StationNo = settings_.station;
    item.Count = element == ElementKind::Bit ? 1 : moduleCount(element, count);
    item.Data = request.values.mid(qsizetype(request.partsDone) * unit, qsizetype(count) * unit);
    request.partRegisters = count;
    request.subId = item.HostSubId;
    request.sent = false;
    request.silence = false;
    request.readBacks = 0;
    bySubId_.insert(item.HostSubId, id);
    module_->AddListWriteVar(item);
}

void LineCore::moduleItemEnded(RequestId id, qint32 status, qint32 failureCode, const QString& failure)
{
    auto it = requests_.find(id);
    if (it == requests_.end() || it->second.outcome)
        return;
    Request& request = it->second;
    const bool good = status == CompletionGood;
    if (!request.write) {
        // A one-shot read split into items ends with its last one; a
        // give-up of any of them fails it.
        if (!good && request.failureCode == 0) {
            request.failureCode = failureCode;
            request.error = failure.isEmpty() ? describeResult(failureCode) : failure;
        }
        if (--request.moduleItems > 0)
            return;
        RequestOutcome outcome;
        outcome.finished = true;
        outcome.good = request.failureCode == 0;
        outcome.failureCode = request.failureCode;
        outcome.error = request.error;
        finish(id, request, outcome);
        return;
    }
    partEnded(id, request, good, failureCode, failure);
}

void LineCore::partEnded(RequestId id, Request& request, bool good, qint32 failureCode, const QString& failure)
{
    if (good) {
        request.partsDone += request.partRegisters;
        if (request.partsDone < request.variable.registers) {
            queueNextPart(id, request);
            return;
        }
        RequestOutcome outcome;
        outcome.finished = true;
        outcome.good = true;
        if (request.readBacks > 0)
            outcome.note = QStringLiteral("confirmed by reading it back");
        finish(id, request, outcome);
        return;
    }
    request.failureCode = failureCode;
    request.error = failure.isEmpty() ? describeResult(failureCode) : failure;
    // Never on the line, or refused with a NAK each time it went: not
    // written, proven. A frame that got no proven answer may have landed:
    // read it back once the line is in step.
    if (!request.sent || !request.silence) {
        RequestOutcome outcome;
        outcome.finished = true;
        outcome.failureCode = failureCode;
        outcome.error = request.error;
        if (request.partsDone > 0)
            outcome.error += QStringLiteral("; %1 of %2 registers before it were written")
                                 .arg(request.partsDone)
                                 .arg(request.variable.registers);
        finish(id, request, outcome);
        return;
    }
    request.subId = -1; // unconfirmed: settleUnconfirmed() reads it back
}

void LineCore::settleUnconfirmed()
{
    // Called in step, before the next request: nothing sent earlier can still
    // land, so what the PLC holds now is the write's outcome.
    QVector<RequestId> unconfirmed;
    for (const auto& [id, request] : requests_) {
        if (request.write && !request.outcome && request.subId < 0 && !request.readBack)
            unconfirmed.append(id);
    }
    for (const RequestId id : unconfirmed) {
        Request& request = requests_.at(id);
        if (request.readBacks >= MaxReadBacks) {
            RequestOutcome outcome;
            outcome.finished = true;
            outcome.unconfirmed = true;
            outcome.failureCode = request.failureCode;
            outcome.error = QStringLiteral("not confirmed: %1, and %2 reads of it back failed")
                                .arg(request.error)
                                .arg(request.readBacks);
            finish(id, request, outcome);
            continue;
        }
        queueReadBack(id, request);
    }
}

void LineCore::queueReadBack(RequestId id, Request& request)
{
    ++request.readBacks;
    const VariableAddress part = partOf(request.variable, request.partsDone, request.partRegisters);
    if (!refusal(part).isEmpty())
        return; // tried again when next in step
    const RequestId readBackId = readOnce(part).first();
    requests_.at(readBackId).settles = id;
    request.readBack = readBackId;
}

void LineCore::readBackEnded(RequestId writeId, RequestId readBackId, bool good)
{
    requests_.erase(readBackId);
    auto it = requests_.find(writeId);
    if (it == requests_.end() || it->second.outcome)
        return;
    Request& request = it->second;
    request.readBack.reset();
    if (!good)
        return; // tried again when next in step
    const int unit = bytesPerRegister(request.variable);
    const VariableAddress part = partOf(request.variable, request.partsDone, request.partRegisters);
    const QByteArray wanted = request.values.mid(qsizetype(request.partsDone) * unit,
                                                 qsizetype(request.partRegisters) * unit);
    QByteArray held = values(part);
    if (request.variable.type->element == ElementKind::Bit) {
        for (char& bit : held)
            bit = bit ? 1 : 0;
    }
    if (held == wanted) {
        partEnded(writeId, request, true, 0, QString());
        return;
    }
    request.sent = false; // proven: the part is not in the PLC
    partEnded(writeId, request, false, request.failureCode,
              request.error + QStringLiteral("; read back, the PLC does not hold the value: not written"));
}

void LineCore::finish(RequestId id, Request& request, RequestOutcome outcome)
{
    outcome.finished = true;
    request.outcome = outcome;
    if (request.settles) {
        // A read-back: it settles its write, and is not the host's.
        readBackEnded(*request.settles, id, outcome.good);
        return;
    }
    events_.ended.append({id, outcome});
}

std::optional<RequestOutcome> LineCore::takeOutcome(RequestId id)
{
    auto it = requests_.find(id);
    if (it == requests_.end() || !it->second.outcome || it->second.settles)
        return std::nullopt;
    const RequestOutcome outcome = *it->second.outcome;
    requests_.erase(it);
    return outcome;
}

QByteArray LineCore::values(const VariableAddress& variable) const
{
    const ElementKind element = variable.type ? variable.type->element : ElementKind::Word;
    QByteArray bytes;
    module_->GetRegisterData(variable.regName, variable.index, settings_.station, bytes,
                             moduleCount(element, variable.registers));
    return bytes;
}

LineStatistics LineCore::statistics() const
{
    LineStatistics statistics = statistics_;
    statistics.turnaroundUs = std::max<qint64>(0, pace_.turnaroundUs());
    return statistics;
}

bool LineCore::scanComplete() const
{
    return __atomic_load_n(&comInfo_[ComInfoWord::ScanComplete], __ATOMIC_RELAXED) == 1;
}

// --- Polling ----------------------------------------------------------------

VariableQuality LineCore::quality(int index) const
{
    VariableQuality quality = quality_.quality(index);
    if (health_.state != LineState::Up && quality.quality != Quality::Bad)
        quality = {Quality::Bad, health_.reason};
    return quality;
}

bool LineCore::allSettled() const
{
    for (int i = 0; i < quality_.size(); ++i) {
        if (quality(i).quality == Quality::Waiting)
            return false;
    }
    return true;
}

LineCore::PolledPlan LineCore::planFor(const QList<VariableAddress>& variables, qint64 turnaroundUs,
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
    ReadCostModel model;
    model.baud = settings_.baud;
    model.turnaroundUs = static_cast<qint32>(std::min<qint64>(turnaroundUs, std::numeric_limits<qint32>::max()));
    if (!onePass_ && std::any_of(everyMs_.cbegin(), everyMs_.cend(), [](int ms) { return ms > 0; }))
        planClasses(polled, model);
    else
        polled.plan = planReads(polled.spans, model, atFault);
    return polled;
}

qint64 LineCore::plannedTurnaroundUs() const
{
    if (settings_.turnaroundMs >= 0)
        return qint64(settings_.turnaroundMs) * 1000;
    return std::max<qint64>(0, pace_.turnaroundUs());
}

int LineCore::setPolled(const QList<VariableAddress>& variables, bool onePass, qint64 nowUs,
                        const QVector<int>& everyMs)
{
    polled_ = variables;
    onePass_ = onePass;
    nowUs_ = nowUs;
    everyMs_ = everyMs;
    everyMs_.resize(variables.size()); // a variable without a period: as fast as the line allows
    overbookedSaid_ = false;
    quality_.reset(variables);
    for (int i = 0; i < variables.size(); ++i) {
        const QString reach = portReachError(variables.at(i));
        if (!reach.isEmpty())
            quality_.refuse(i, reach);
    }
    lastReplanCheckUs_ = nowUs;
    applyPlan(planFor(variables, plannedTurnaroundUs()));
    changedAll();
    return settings_.planning == ReadPlanning::Module ? moduleBlocks_ : plan_.plan.frames();
}

void LineCore::applyPlan(const PolledPlan& plan)
{
    // Between two exchanges: a frame of the old blocks still waiting for its
    // resend goes on, but it no longer speaks for the new set.
    if (settings_.planning == ReadPlanning::Module) {
        moduleBlocks_ = module_->ReCreatReadVarList(plan.definitions);
        for (const ReadBlock& block : plan.splitBlocks)
            module_->AddListReadVar(readItem(block, settings_.station));
        moduleBlocks_ += static_cast<int>(plan.splitBlocks.size());
    } else {
        // Poll classes: the cyclic list holds the one block due next (holdScheduledBlock).
        module_->ReCreatReadVarList({});
        held_.reset();
        for (int b = 0; b < plan.plan.blocks.size() && plan.blockClass.isEmpty(); ++b)
            module_->AddListReadVar(readItem(plan.plan.blocks.at(b), settings_.station));
    }
    ignoreOpenTransaction_ = transactionOpen_;
    plan_ = plan;
    ++statistics_.plans;
    flatBlocksServed_ = 0;
    flatClock_.restart();
    if (classesScheduled()) {
        schedule_.reset(scheduleClasses(plan_, plan_.turnaroundUs), nowUs_);
        noteOverbooked();
    }
}

void LineCore::replanIfTurnaroundMoved(qint64 nowUs)
{
    if (settings_.planning == ReadPlanning::Module || settings_.turnaroundMs >= 0 || plan_.variables.isEmpty()
        || plan_.split || nowUs - lastReplanCheckUs_ < ReplanCheckUs)
        return;
    lastReplanCheckUs_ = nowUs;
    const qint64 turnaroundUs = plannedTurnaroundUs();
    if (!movedEnough(turnaroundUs, plan_.turnaroundUs)) {
        if (classesScheduled())
            noteOverbooked(); // not said before the line had answered
        return;
    }
    PolledPlan replanned = planFor(plan_.variables, turnaroundUs, plan_.atFault);
    if (sameBlocks(replanned.plan, plan_.plan) && replanned.blockClass == plan_.blockClass) {
        plan_.turnaroundUs = turnaroundUs;
        if (classesScheduled()) {
            schedule_.reprice(scheduleClasses(plan_, turnaroundUs));
            noteOverbooked();
        }
        return;
    }
    TAVRIN_DEBUG(hostLog).noquote() << "turnaround" << turnaroundUs / 1000.0 << "ms: read blocks planned again";
    applyPlan(replanned);
}

void LineCore::isolateRefusal(const PolledSpan& refused, const ReadBlock& item)
{
    // A block the PLC refused: split it, and when a block of one variable is
    // refused, that variable is at fault and gets its own error. The blocks
    // learnt so stay as they are: a new plan could join the halves again and
    // meet the same refusal.
    PolledPlan next = plan_;
    next.split = true;
    const bool moduleRule = settings_.planning == ReadPlanning::Module;
    QVector<ReadBlock>& blocks = moduleRule ? next.splitBlocks : next.plan.blocks;
    int at = -1;
    for (int i = 0; i < blocks.size() && at < 0; ++i) {
        const PolledSpan span = blockSpan(blocks.at(i).regName, blocks.at(i).addr, blocks.at(i).count);
        if (span.area == refused.area && span.first == refused.first && span.end == refused.end)
            at = i;
    }
    ReadBlock block;
    int pollClass = -1;
    if (at >= 0) {
        block = blocks.takeAt(at);
        if (!next.blockClass.isEmpty())
            pollClass = next.blockClass.takeAt(at);
    } else if (moduleRule) {
        // One of the module's own blocks: its variables are read apart from now on.
        block = item;
        for (int v = 0; v < plan_.spans.size(); ++v) {
            if (plan_.spans.at(v).overlaps(refused) && !plan_.takenFromModule.contains(v))
                block.variables.append(v);
        }
        at = static_cast<int>(blocks.size());
        for (const int v : block.variables)
            next.takenFromModule.insert(v);
        QList<VariableAddress> kept;
        for (int v = 0; v < plan_.variables.size(); ++v) {
            if (!next.takenFromModule.contains(v))
                kept.append(plan_.variables.at(v));
        }
        next.definitions = moduleDefinitions(kept);
    } else {
        return;
    }
    const QVector<ReadBlock> halves = splitRefusedBlock(block, plan_.spans);
    for (int k = 0; k < halves.size(); ++k) {
        blocks.insert(at + k, halves.at(k));
        if (pollClass >= 0)
            next.blockClass.insert(at + k, pollClass);
    }
    if (halves.isEmpty()) {
        for (const int variable : block.variables) {
            next.atFault.insert(variable);
            quality_.refuse(variable, QStringLiteral("the PLC refused the request (NAK)"));
            events_.polledChanged.append(variable);
        }
    }
    applyPlan(next);
}
