#include "host_runtime.h"

#include "frame_trace.h"
#include "line_timing.h"
#include "log_categories.h"
#include "result_codes.h"
#include "value_format.h"

#include "protocol/device_address_map.h"
#include "protocol/fx_protocol.h"
#include "tavrin.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>

namespace {

// HostIds of the items this runtime queues. Both lie outside 0..11, so the
// module adds nothing to the failure codes of their requests: a write that
// gets no reply reports 41, as a polled block does.
constexpr qint32 WriteHostId = 100;
constexpr qint32 OnceReadHostId = 200;
// First argument of every completion notice: tells our notices from a stray call.
constexpr qint32 NoticeTag = 0x54617672;
// How long the thread waits when the module has nothing to send, unless
// new work wakes it earlier.
constexpr unsigned long IdleBackoffMs = 5;
// Largest reply the module's requests can ask for: 255 data bytes.
constexpr int MaxReplyLength = 2 * 255 + Fx::DataReplyOverhead;
// Writes the runtime lets wait at once; the module's write list drops
// items silently at 1024.
constexpr int MaxPendingRequests = 1000;

std::atomic<HostRuntime*> activeRuntime{nullptr};

// Where the module's ComInfo pointer goes when a runtime stops: the module
// keeps the pointer for its whole life and must never see a dead block.
std::array<qint32, 32> parkedComInfo{};

RequestId requestId(qint32 hostId, qint32 hostSubId)
{
    return (RequestId(hostId) << 32) | RequestId(quint32(hostSubId));
}

} // namespace

HostRuntime::HostRuntime(LineFactory lineFactory, const LineSettings& settings)
    : lineFactory_(std::move(lineFactory))
    , settings_(settings)
{
}

HostRuntime::~HostRuntime()
{
    stop();
}

void HostRuntime::completionNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    // Runs on the communication thread inside DataCom, with the module's
    // list lock held: only note it here, settle() handles it after DataCom.
    HostRuntime* runtime = activeRuntime.load();
    if (runtime && tag == NoticeTag)
        runtime->notices_.append(Notice{hostId, hostSubId, status});
}

bool HostRuntime::start(QString* error)
{
    HostRuntime* none = nullptr;
    if (!activeRuntime.compare_exchange_strong(none, this)) {
        *error = QStringLiteral("another runtime already drives the module in this process");
        return false;
    }
    comInfo_.fill(0);
    comInfo_[ComInfoWord::BlockSize] = settings_.blockSize;
    comInfo_[ComInfoWord::StationNo] = settings_.station;
    comInfo_[ComInfoWord::RetryLimit] = settings_.retries;
    comInfo_[ComInfoWord::WriteMode] = WriteModeQueue;
    comInfo_[ComInfoWord::CallbackTag] = NoticeTag;
    SetComInfo(comInfo_.data());
    RegistCallBackFuncIntf(&HostRuntime::completionNotice, 0);
    ReCreatReadVarList({}); // forget a polled set an earlier runtime left behind

    stopRequested_ = false;
    {
        QMutexLocker lock(&stateMutex_);
        startDone_ = false;
    }
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
    QMutexLocker lock(&stateMutex_);
    while (!startDone_)
        stateChanged_.wait(&stateMutex_);
    if (startOk_)
        return true;
    lock.unlock();
    thread_->wait();
    thread_.reset();
    parkComInfo();
    *error = startError_;
    return false;
}

void HostRuntime::parkComInfo()
{
    parkedComInfo = comInfo_;
    parkedComInfo[ComInfoWord::WriteMode] = 0;
    SetComInfo(parkedComInfo.data());
    activeRuntime = nullptr;
}

void HostRuntime::stop()
{
    if (!thread_)
        return;
    stopRequested_ = true;
    wake();
    thread_->wait();
    thread_.reset();
    parkComInfo();
    QMutexLocker lock(&stateMutex_);
    stateChanged_.wakeAll();
}

void HostRuntime::finishStart(bool ok, const QString& error)
{
    QMutexLocker lock(&stateMutex_);
    startDone_ = true;
    startOk_ = ok;
    startError_ = error;
    stateChanged_.wakeAll();
}

void HostRuntime::run()
{
    line_ = lineFactory_();
    QString error;
    if (!line_->open(&error)) {
        line_.reset();
        finishStart(false, error);
        return;
    }
    if (settings_.probe && !probe(&error)) {
        line_->close();
        line_.reset();
        finishStart(false, error);
        return;
    }
    QElapsedTimer clock;
    clock.start();
    {
        QMutexLocker lock(&stateMutex_);
        statistics_ = LineStatistics();
    }
    finishStart(true, QString());

    bool lastCallFoundNothing = false;
    while (!stopRequested_) {
        {
            QMutexLocker lock(&stateMutex_);
            statistics_.elapsedMs = clock.elapsed();
        }
        const RequestFrame* frame = ComCommunication();
        if (!frame) {
            // With nothing polled, the module answers null once after five
            // writes in a row even when more wait; ask again at once then.
            idle(!lastCallFoundNothing);
            lastCallFoundNothing = true;
            continue;
        }
        lastCallFoundNothing = false;
        exchange(*frame);
    }
    line_->close();
    line_.reset();
}

bool HostRuntime::probe(QString* error)
{
    const QByteArray enquiry(1, Fx::ENQ);
    const int timeoutMs = LineTiming::replyTimeoutMs(1, 1, settings_.baud, settings_.answerAllowanceMs);
    QByteArray reply;
    const int tries = settings_.retries + 1;
    for (int attempt = 0; attempt < tries; ++attempt) {
        line_->discardInput();
        if (!line_->send(enquiry)) {
            *error = QStringLiteral("cannot write to %1").arg(line_->name());
            return false;
        }
        reply = line_->collect(1, timeoutMs);
        TAVRIN_DEBUG(framesLog).noquote() << "->" << hexBytes(enquiry) << frameText(enquiry) << describeRequest(enquiry);
        TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(reply) << frameText(reply) << describeReply(reply);
        if (reply.size() == 1 && reply.at(0) == Fx::ACK) {
            TAVRIN_DEBUG(hostLog).noquote() << "a PLC answers on" << line_->name();
            return true;
        }
        if (!line_->isConnected())
            break;
    }
    const QString advice = QStringLiteral("check the port, the cable, the baud rate (%1, 7 data bits, "
                                          "even parity, 1 stop bit) and that the PLC is powered")
                               .arg(settings_.baud);
    if (!line_->isConnected())
        *error = QStringLiteral("%1 closed the line (a serial device server serving another host "
                                "closes new connections)")
                     .arg(line_->name());
    else if (reply.isEmpty())
        *error = QStringLiteral("no PLC answers on %1: no reply to ENQ within %2 ms, %3 tries; %4")
                     .arg(line_->name())
                     .arg(timeoutMs)
                     .arg(tries)
                     .arg(advice);
    else
        *error = QStringLiteral("%1 answered ENQ with %2 instead of ACK; %3")
                     .arg(line_->name(), hexBytes(reply), advice);
    return false;
}

void HostRuntime::exchange(const RequestFrame& frame)
{
    // The head frame stays valid until DataCom: copy what we need first.
    const QByteArray request = frame.FrameBytes;
    const int replyLength = qBound(0, frame.ReplyLength, MaxReplyLength);
    const qint32 hostId = frame.Item.HostId;
    const qint32 hostSubId = frame.Item.HostSubId;
    const int timeoutMs =
        LineTiming::replyTimeoutMs(request.size(), replyLength, settings_.baud, settings_.answerAllowanceMs);

    line_->discardInput();
    QByteArray reply;
    if (line_->send(request)) {
        reply = line_->collect(replyLength, timeoutMs);
    } else {
        // A dead line answers nothing; waiting out the timeout keeps the
        // cycle from spinning through its retries.
        TAVRIN_DEBUG(hostLog).noquote() << "cannot send on" << line_->name();
        QMutexLocker lock(&idleMutex_);
        workArrived_.wait(&idleMutex_, static_cast<unsigned long>(timeoutMs));
    }
    notices_.clear();
    const qint32 result = DataCom(reply);
    TAVRIN_DEBUG(framesLog).noquote() << "->" << hexBytes(request) << frameText(request) << describeRequest(request);
    TAVRIN_DEBUG(framesLog).noquote() << "<-" << hexBytes(reply) << frameText(reply) << describeReply(reply)
                                 << "=>" << describeResult(result);

    QMutexLocker lock(&stateMutex_);
    ++statistics_.framesSent;
    statistics_.bytesSent += request.size();
    statistics_.bytesReceived += reply.size();
    statistics_.wireTimeUs += LineTiming::wireTimeUs(request.size() + reply.size(), settings_.baud);
    lock.unlock();
    settle(hostId, hostSubId, result);
}

void HostRuntime::settle(qint32 hostId, qint32 hostSubId, qint32 result)
{
    QMutexLocker lock(&stateMutex_);
    if (result == ReplyAccepted) {
        ++statistics_.goodReplies;
    } else if (result == ReplyResend) {
        ++statistics_.retries;
    } else {
        ++statistics_.giveUps;
        statistics_.lastGiveUpCode = result;
        TAVRIN_DEBUG(hostLog).noquote() << "request given up:" << describeResult(result);
        // A one-shot read split into blocks is notified once, with the
        // status of its last block: remember an earlier block's give-up.
        auto it = pending_.find(requestId(hostId, hostSubId));
        if (it != pending_.end() && !it->finished)
            it->failureCode = result;
    }
    for (const Notice& notice : notices_) {
        auto it = pending_.find(requestId(notice.hostId, notice.hostSubId));
        if (it == pending_.end())
            continue;
        it->finished = true;
        it->good = notice.status == CompletionGood && it->failureCode == 0;
        if (!it->good && it->failureCode == 0)
            it->failureCode = result != ReplyAccepted && result != ReplyResend ? result
                                                                               : statistics_.lastGiveUpCode;
    }
    notices_.clear();
    stateChanged_.wakeAll();
}

void HostRuntime::idle(bool retryAtOnce)
{
    if (retryAtOnce) {
        QMutexLocker lock(&stateMutex_);
        for (const Pending& pending : pending_) {
            if (!pending.finished)
                return;
        }
    }
    QMutexLocker lock(&idleMutex_);
    if (!workQueued_)
        workArrived_.wait(&idleMutex_, IdleBackoffMs);
    workQueued_ = false;
}

void HostRuntime::wake()
{
    QMutexLocker lock(&idleMutex_);
    workQueued_ = true;
    workArrived_.wakeAll();
}

RequestId HostRuntime::track(qint32 hostId, qint32 hostSubId)
{
    const RequestId id = requestId(hostId, hostSubId);
    pending_.insert(id, Pending());
    return id;
}

int HostRuntime::setPolledVariables(const QList<VariableAddress>& variables)
{
    QList<HostVarDef> definitions;
    for (const VariableAddress& variable : variables) {
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
        if (variable.type && variable.type->type == RegisterType::DBit)
            definition.Length = variable.registers - 1;
        definitions.append(definition);
    }
    const int blocks = ReCreatReadVarList(definitions);
    wake();
    return blocks;
}

QVector<RequestId> HostRuntime::readOnce(const VariableAddress& variable)
{
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
            QMutexLocker lock(&stateMutex_);
            each.HostSubId = nextSubId_++;
            ids.append(track(each.HostId, each.HostSubId));
        }
        AddListOnceReadVar(each);
    }
    wake();
    return ids;
}

RequestId HostRuntime::queueWrite(const VariableAddress& variable, const QByteArray& values)
{
    QMutexLocker lock(&stateMutex_);
    const qint32 hostSubId = nextSubId_++;
    const RequestId id = track(WriteHostId, hostSubId);
    const ElementKind element = variable.type ? variable.type->element : ElementKind::Word;
    const int count = element == ElementKind::Bit ? 1 : moduleCount(element, variable.registers);
    int unfinished = 0;
    for (const Pending& pending : pending_)
        unfinished += pending.finished ? 0 : 1;
    QString refusal;
    if (!variable.type || deviceAddressInfo(variable.type->type).write == WriteCommand::None)
        refusal = QStringLiteral("%1 cannot be written: inputs are driven by the hardware").arg(variable.text);
    else if (element != ElementKind::Bit && count > settings_.blockSize)
        refusal = QStringLiteral("%1 words do not fit one request of at most %2 words").arg(count).arg(settings_.blockSize);
    else if (unfinished > MaxPendingRequests)
        refusal = QStringLiteral("too many requests waiting");
    if (!refusal.isEmpty()) {
        Pending& pending = pending_[id];
        pending.finished = true;
        refusals_.insert(id, refusal);
        return id;
    }
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
    AddListWriteVar(item);
    wake();
    return id;
}

RequestOutcome HostRuntime::wait(RequestId id, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&stateMutex_);
    RequestOutcome outcome;
    while (pending_.contains(id) && !pending_.value(id).finished) {
        if (!stateChanged_.wait(&stateMutex_, deadline))
            break;
    }
    auto it = pending_.find(id);
    if (it == pending_.end() || !it->finished)
        return outcome;
    outcome.finished = true;
    outcome.good = it->good;
    outcome.failureCode = it->failureCode;
    outcome.message = refusals_.take(id);
    pending_.erase(it);
    return outcome;
}

QByteArray HostRuntime::values(const VariableAddress& variable) const
{
    const ElementKind element = variable.type ? variable.type->element : ElementKind::Word;
    QByteArray bytes;
    GetRegisterData(variable.regName, variable.index, settings_.station, bytes,
                    moduleCount(element, variable.registers));
    return bytes;
}

LineStatistics HostRuntime::statistics() const
{
    QMutexLocker lock(&stateMutex_);
    return statistics_;
}

bool HostRuntime::scanComplete() const
{
    return __atomic_load_n(&comInfo_[ComInfoWord::ScanComplete], __ATOMIC_RELAXED) == 1;
}

int HostRuntime::giveUpBudgetMs() const
{
    constexpr int LargestRequest = Fx::ReadFrameLength;
    constexpr int LargestReply = 2 * 64 + Fx::DataReplyOverhead;
    const int perTry = LineTiming::replyTimeoutMs(LargestRequest, LargestReply, settings_.baud,
                                                  settings_.answerAllowanceMs);
    return (settings_.retries + 1) * perTry;
}
