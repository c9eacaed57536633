#include "host_runtime.h"

#include "line_timing.h"
#include "port_protocol.h"

#include <algorithm>
#include <chrono>

namespace {

// However far the core's deadline, the thread looks at a stop request this
// often.
constexpr qint64 LongestWaitUs = 50000;
// Line events kept for takeLineEvents(); older ones are dropped.
constexpr int MaxLineEvents = 100;

int msUntil(qint64 nowUs, qint64 untilUs)
{
    const qint64 waitUs = std::clamp<qint64>(untilUs - nowUs, 0, LongestWaitUs);
    return static_cast<int>((waitUs + 999) / 1000);
}

// The system's sentence, in the middle of ours: "the remote host closed ...".
QString sentence(QString text)
{
    if (!text.isEmpty())
        text[0] = text.at(0).toLower();
    return text;
}

} // namespace

HostRuntime::HostRuntime(LineFactory lineFactory, const LineSettings& settings,
                         std::shared_ptr<ModuleInstance> module)
    : lineFactory_(std::move(lineFactory))
    , settings_(settings)
    , module_(std::move(module))
{
    QString error; // start() reports it
    if (!module_)
        module_ = ModuleInstance::shared(&error);
}

HostRuntime::~HostRuntime()
{
    stop();
}

bool HostRuntime::start(QString* error)
{
    return launch(false, error);
}

bool HostRuntime::startPersistent(QString* error)
{
    return launch(true, error);
}

bool HostRuntime::launch(bool persistent, QString* error)
{
    if (!module_ && !(module_ = ModuleInstance::shared(error)))
        return false;
    auto core = std::make_unique<LineCore>(settings_, module_, persistent);
    if (!core->attach(error))
        return false;
    stopRequested_ = false;
    clock_.start();
    // The thread starts and ends under the lock, so that a thread checker
    // sees what was set up before it and what it did before it ended;
    // QThread's own hand-overs happen out of its sight.
    std::unique_lock<std::mutex> lock(mutex_);
    core_ = std::move(core);
    threadDone_ = false;
    thread_.reset(QThread::create([this] { run(); }));
    thread_->start();
    if (persistent)
        return true;
    changed_.wait(lock, [this] { return core_->startState() != LineCore::StartState::Opening || threadDone_; });
    if (core_->startState() == LineCore::StartState::Up)
        return true;
    *error = core_->startError();
    lock.unlock();
    stop();
    return false;
}

void HostRuntime::stop()
{
    if (!thread_)
        return;
    stopRequested_ = true;
    wake();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return threadDone_; });
    }
    thread_->wait();
    thread_.reset();
    std::unique_lock<std::mutex> lock(mutex_);
    core_->detach(); // the module copy, for another runtime; the last values and qualities stay
}

void HostRuntime::run()
{
    {
        std::unique_lock<std::mutex> lock(mutex_); // what launch() set up is seen from here
    }
    line_ = lineFactory_();
    while (!stopRequested_ && turn()) {
    }
    RuntimeEvents last;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        core_->shutDown(nowUs());
        last = core_->takeEvents();
    }
    deliver(last);
    if (lineOpen_)
        line_->close();
    line_.reset();
    std::unique_lock<std::mutex> lock(mutex_);
    threadDone_ = true;
    changed_.notify_all();
}

bool HostRuntime::turn()
{
    bool open = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        open = core_->wantsOpen(nowUs());
    }
    if (open) {
        QString error;
        lineOpen_ = line_->open(&error);
        std::unique_lock<std::mutex> lock(mutex_);
        if (lineOpen_)
            core_->opened(nowUs(), line_->name());
        else
            core_->openFailed(nowUs(), error);
    }
    // What arrived since the last turn, then what is due now.
    const QByteArray arrived = lineOpen_ ? line_->receive(0) : QByteArray();
    QByteArray output;
    qint64 deadline = LineCore::Never;
    bool awaiting = false;
    bool closeNow = false;
    RuntimeEvents events;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (lineOpen_ && !line_->isConnected()) {
            core_->lost(nowUs(), QStringLiteral("line lost: %1: %2").arg(line_->name(), sentence(line_->failure())));
            line_->close();
            lineOpen_ = false;
        }
        core_->received(nowUs(), arrived);
        core_->advance(nowUs());
        output = core_->takeOutput();
        deadline = core_->deadlineUs();
        awaiting = core_->awaitingBytes();
        closeNow = core_->wantsClose();
        events = core_->takeEvents();
        for (const LineEvent& event : events.lineEvents) {
            if (lineEvents_.size() >= MaxLineEvents)
                lineEvents_.removeFirst();
            lineEvents_.append(event);
        }
        if (!listeners_.isEmpty()) {
            for (const auto& ended : events.ended)
                core_->takeOutcome(ended.first); // heard, not waited for
        }
        changed_.notify_all();
        if (core_->startState() == LineCore::StartState::Failed)
            return false;
    }
    deliver(events);
    if (!lineOpen_) {
        waitForWork(deadline);
        return true;
    }
    if (closeNow) {
        line_->close();
        lineOpen_ = false;
        std::unique_lock<std::mutex> lock(mutex_);
        core_->closed(nowUs());
        return true;
    }
    if (!output.isEmpty() && !line_->send(output)) {
        std::unique_lock<std::mutex> lock(mutex_);
        core_->lost(nowUs(), QStringLiteral("cannot send on %1: %2").arg(line_->name(), sentence(line_->failure())));
        line_->close();
        lineOpen_ = false;
        return true;
    }
    if (awaiting || !output.isEmpty()) {
        const QByteArray reply = line_->receive(msUntil(nowUs(), deadline));
        std::unique_lock<std::mutex> lock(mutex_);
        core_->received(nowUs(), reply);
        return true;
    }
    waitForWork(deadline);
    return true;
}

void HostRuntime::waitForWork(qint64 untilUs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!workQueued_ && !stopRequested_)
        changed_.wait_for(lock, std::chrono::milliseconds(msUntil(nowUs(), untilUs)),
                          [this] { return workQueued_ || stopRequested_; });
    workQueued_ = false;
}

void HostRuntime::wake()
{
    std::unique_lock<std::mutex> lock(mutex_);
    workQueued_ = true;
    changed_.notify_all();
}

void HostRuntime::deliver(const RuntimeEvents& events)
{
    if (events.isEmpty())
        return;
    for (RuntimeListener* listener : listeners_) {
        for (const LineEvent& event : events.lineEvents)
            listener->lineEvent(event);
        if (events.lineChanged)
            listener->lineChanged(health());
        if (!events.polledChanged.isEmpty())
            listener->polledChanged(events.polledChanged);
        for (const auto& ended : events.ended)
            listener->requestEnded(ended.first, ended.second);
    }
}

int HostRuntime::setPolledVariables(const QList<VariableAddress>& variables, const QVector<int>& everyMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const int blocks = core_ ? core_->setPolled(variables, false, nowUs(), everyMs) : 0;
    workQueued_ = true;
    changed_.notify_all();
    return blocks;
}

QVector<VariableQuality> HostRuntime::readPass(const QList<VariableAddress>& variables, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const QList<VariableAddress> before = core_->polled();
    const QVector<int> everyBefore = core_->everyMs();
    // The core stops polling the pass's blocks as soon as every variable is
    // read or given up.
    core_->setPolled(variables, true, nowUs());
    workQueued_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] { return core_->allSettled(); });
    core_->endOnePass();
    QVector<VariableQuality> qualities(variables.size());
    for (int i = 0; i < variables.size(); ++i)
        qualities[i] = core_->quality(i);
    core_->setPolled(before, false, nowUs(), everyBefore);
    return qualities;
}

VariableQuality HostRuntime::quality(int index) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ ? core_->quality(index) : VariableQuality();
}

QVector<RequestId> HostRuntime::readOnce(const VariableAddress& variable)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const QVector<RequestId> ids = core_->readOnce(variable);
    workQueued_ = true;
    changed_.notify_all();
    return ids;
}

RequestId HostRuntime::queueWrite(const VariableAddress& variable, const QByteArray& values)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const RequestId id = core_->queueWrite(variable, values);
    workQueued_ = true;
    changed_.notify_all();
    return id;
}

RequestOutcome HostRuntime::wait(RequestId id, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<RequestOutcome> outcome;
    changed_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
        outcome = core_ ? core_->takeOutcome(id) : std::nullopt;
        return outcome.has_value() || !core_ || !core_->knows(id);
    });
    return outcome.value_or(RequestOutcome());
}

QByteArray HostRuntime::values(const VariableAddress& variable) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ ? core_->values(variable) : QByteArray();
}

LineStatistics HostRuntime::statistics() const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ ? core_->statistics() : LineStatistics();
}

LineHealth HostRuntime::health() const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ ? core_->health() : LineHealth{LineState::Lost, QStringLiteral("the runtime is stopped")};
}

int HostRuntime::allowanceMs() const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ ? core_->pace().allowanceMs() : settings_.answerAllowanceMs;
}

QVector<LineEvent> HostRuntime::takeLineEvents()
{
    std::unique_lock<std::mutex> lock(mutex_);
    QVector<LineEvent> events;
    events.swap(lineEvents_);
    return events;
}

QVector<PollClassFigures> HostRuntime::pollClasses() const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ ? core_->pollClasses() : QVector<PollClassFigures>();
}

bool HostRuntime::scanComplete() const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return core_ && core_->scanComplete();
}

int HostRuntime::giveUpBudgetMs() const
{
    const LinePace pace(settings_.baud, allowanceMs(), false);
    const qint64 perTryUs = pace.timeoutUs(Port::ReadRequestLength, LineTiming::LongestReplyCharacters)
                            + pace.timeoutUs(Port::ReadRequestLength, 2 * ReplyPairing::MaxProbeBytes + 4);
    return static_cast<int>((settings_.retries + 1) * perTryUs / 1000);
}
