#include "gateway_line.h"

#include "gateway_log.h"
#include "tag_value.h"

#include <algorithm>

namespace {

// How often the image is looked at. The runtime polls at line speed; this
// adds at most its own length to the delay from a change to its message.
constexpr int LookIntervalMs = 10;
// Starting a line whose PLC could not be reached: first again after 1 s,
// doubling up to 30 s.
constexpr int FirstStartRetryMs = 1000;
constexpr int LastStartRetryMs = 30000;

QDateTime now()
{
    return QDateTime::currentDateTimeUtc();
}

// The runtime's smoothed turnaround (from a request's last character to
// its reply's first) in microseconds, or -1: the runtime's statistics do
// not measure it yet. When they do, this is the one place that reads it.
qint64 measuredTurnaroundUs(const LineStatistics&)
{
    return -1;
}

TagState goodState(const QJsonValue& value, const QByteArray& bytes)
{
    return TagState{Quality::Good, value, QString(), now(), bytes};
}

TagState badState(const QString& error)
{
    return TagState{Quality::Bad, QJsonValue(), error, now(), QByteArray()};
}

} // namespace

GatewayLine::GatewayLine(const LineConfig& config, int index, std::shared_ptr<ModuleInstance> module,
                         QVector<GatewayListener*> listeners)
    : config_(config), index_(index), module_(std::move(module)), listeners_(std::move(listeners))
{
    snapshot_.status.reason = QStringLiteral("not started yet");
    snapshot_.status.at = now();
    snapshot_.tags.resize(config_.tags.size());
}

GatewayLine::~GatewayLine()
{
    stop();
}

void GatewayLine::start()
{
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void GatewayLine::beginStop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    refusingWrites_ = true;
    stopping_ = true;
    workArrived_.notify_all();
}

void GatewayLine::stop()
{
    if (!thread_.joinable())
        return;
    beginStop();
    thread_.join();
}

LineSnapshot GatewayLine::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    LineSnapshot copy = snapshot_;
    // A list of its own: a shared one would be written here, after an
    // unsynchronised look at whether it is still shared, while read there.
    copy.tags = QVector<TagState>(snapshot_.tags.begin(), snapshot_.tags.end());
    return copy;
}

TagState GatewayLine::tagState(int tag) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_.tags.value(tag);
}

void GatewayLine::write(const QString& tagName, const QJsonValue& value, const WriteDone& done)
{
    const auto refuse = [&](const QString& error) { done(TagWriteResult{WriteOutcome::Refused, error}); };
    const int tag = config_.tagIndex(tagName);
    if (tag < 0)
        return refuse(QStringLiteral("line %1 has no tag \"%2\"").arg(config_.name, tagName));
    if (!config_.tags.at(tag).writable)
        return refuse(readOnlyMessage(tag));
    QVector<QByteArray> values;
    QString error;
    if (!encodeTagValue(config_.tags.at(tag), value, &values, &error))
        return refuse(QStringLiteral("tag %1 (%2): %3")
                          .arg(tagName, valueFormatName(config_.tags.at(tag).format), error));
    writeValues(tag, 0, values, done);
}

QString GatewayLine::readOnlyMessage(int tag) const
{
    return QStringLiteral("tag %1 is read-only; the configuration marks a tag writable: true")
        .arg(config_.tags.at(tag).name);
}

void GatewayLine::writeValues(int tag, int firstValue, const QVector<QByteArray>& values, const WriteDone& done)
{
    const auto refuse = [&](WriteOutcome outcome, const QString& error) { done(TagWriteResult{outcome, error}); };
    // A face that holds raw registers names the tag and values itself: the
    // model checks them again, so that no write lands beside the tag.
    if (tag < 0 || tag >= config_.tags.size())
        return refuse(WriteOutcome::Refused, QStringLiteral("line %1 has no tag %2").arg(config_.name).arg(tag));
    const TagConfig& config = config_.tags.at(tag);
    if (!config.writable)
        return refuse(WriteOutcome::Refused, readOnlyMessage(tag));
    const bool valuesFit = firstValue >= 0 && !values.isEmpty() && firstValue + values.size() <= config.count
        && std::all_of(values.begin(), values.end(),
                       [&](const QByteArray& bytes) { return bytes.size() == config.bytesPerValue(); });
    if (!valuesFit)
        return refuse(WriteOutcome::Refused, QStringLiteral("tag %1 has %2 values of %3 bytes")
                                                 .arg(config.name)
                                                 .arg(config.count)
                                                 .arg(config.bytesPerValue()));
    PendingWrite write;
    write.tag = tag;
    write.firstValue = firstValue;
    write.values = values;
    write.done = done;
    QString refusal;
    {
        // `done` is called without the lock: a face may ask for a snapshot from it.
        std::lock_guard<std::mutex> lock(mutex_);
        if (refusingWrites_)
            refusal = QStringLiteral("the gateway is stopping");
        else if (!snapshot_.status.online)
            refusal = QStringLiteral("line %1 is offline: %2").arg(config_.name, snapshot_.status.reason);
        else
            queued_.append(write);
        workArrived_.notify_all();
    }
    if (!refusal.isEmpty())
        refuse(WriteOutcome::Unavailable, refusal);
}

void GatewayLine::run()
{
    int retryMs = FirstStartRetryMs;
    while (!stopping_) {
        if (!runtime_) {
            if (startRuntime()) {
                retryMs = FirstStartRetryMs;
            } else {
                waitForWork(retryMs);
                retryMs = std::min(2 * retryMs, LastStartRetryMs);
                continue;
            }
        }
        queueWrites();
        look();
        settleWrites();
        waitForWork(LookIntervalMs);
    }
    // The writes under way end within their budget; new ones are refused.
    while (runtime_ && writesPending()) {
        queueWrites();
        look();
        settleWrites();
        QThread::msleep(LookIntervalMs);
    }
    if (runtime_)
        runtime_->stop();
    failAll(QStringLiteral("the gateway stopped"));
    runtime_.reset();
}

bool GatewayLine::startRuntime()
{
    const LineSettings settings = config_.settings;
    runtime_ = std::make_unique<HostRuntime>([settings] { return makeDeviceLine(settings); }, settings,
                                             module_);
    QString error;
    if (!runtime_->start(&error)) {
        runtime_.reset();
        if (error != lastStartError_)
            logWarning(QStringLiteral("line %1: %2; trying again").arg(config_.name, error));
        lastStartError_ = error;
        failAll(error);
        return false;
    }
    lastStartError_.clear();
    QList<VariableAddress> polled;
    for (const TagConfig& tag : config_.tags)
        polled.append(tag.address);
    const int blocks = runtime_->setPolledVariables(polled);
    logInfo(QStringLiteral("line %1: polling on %2, %3 tags in %4 read blocks")
                .arg(config_.name, config_.portText)
                .arg(config_.tags.size())
                .arg(blocks));
    lastProgress_ = -1;
    return true;
}

// A number that moves whenever a reply, a give-up or a loss could have
// changed a tag: while it stands still there is nothing new to look at.
qint64 GatewayLine::progress() const
{
    const LineStatistics statistics = runtime_->statistics();
    return statistics.goodReplies + statistics.retries + statistics.giveUps + statistics.lineLosses
        + statistics.reconnects;
}

void GatewayLine::look()
{
    for (const LineEvent& event : runtime_->takeLineEvents()) {
        if (event.kind != LineEvent::Kind::LateReply)
            logInfo(QStringLiteral("line %1: %2").arg(config_.name, event.text));
    }
    noteStatistics();
    const qint64 progressNow = progress();
    if (progressNow != lastProgress_) {
        lastProgress_ = progressNow;
        lookAtTags();
    }
    // After the tags: a block given up for want of replies has turned the
    // line's health by then.
    const LineHealth health = runtime_->health();
    setStatus(health.state == LineState::Up, health.reason);
}

void GatewayLine::noteStatistics()
{
    const LineStatistics statistics = runtime_->statistics();
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_.statistics = statistics;
    snapshot_.turnaroundUs = measuredTurnaroundUs(statistics);
}

void GatewayLine::lookAtTags()
{
    for (int t = 0; t < config_.tags.size(); ++t)
        lookAtTag(t);
}

void GatewayLine::lookAtTag(int tag)
{
    const VariableQuality quality = runtime_->quality(tag);
    TagState shown;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shown = snapshot_.tags.at(tag);
    }
    if (quality.quality == Quality::Good) {
        const TagConfig& config = config_.tags.at(tag);
        const QByteArray bytes = runtime_->values(config.address);
        const QJsonValue value = tagValue(config, bytes);
        if (shown.quality != Quality::Good || differsBeyond(shown.value, value, config.deadband))
            setTag(tag, goodState(value, bytes));
    } else if (quality.quality == Quality::Bad) {
        if (shown.quality != Quality::Bad || shown.error != quality.error)
            setTag(tag, badState(quality.error));
    }
}

void GatewayLine::setTag(int tag, const TagState& state)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot_.tags[tag] = state;
    }
    for (GatewayListener* listener : listeners_)
        listener->tagChanged(index_, tag, state);
}

void GatewayLine::setStatus(bool online, const QString& reason)
{
    LineStatus status{online, online ? QString() : reason, now()};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (snapshot_.status.online == online && snapshot_.status.reason == status.reason)
            return;
        snapshot_.status = status;
    }
    if (online)
        logInfo(QStringLiteral("line %1: online").arg(config_.name));
    else
        logWarning(QStringLiteral("line %1: offline: %2").arg(config_.name, reason));
    for (GatewayListener* listener : listeners_)
        listener->lineChanged(index_, status);
}

// No runtime, or none any more: the line is offline and no tag is vouched
// for; writes that wait are answered.
void GatewayLine::failAll(const QString& reason)
{
    setStatus(false, reason);
    for (int t = 0; t < config_.tags.size(); ++t) {
        TagState shown;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            shown = snapshot_.tags.at(t);
        }
        if (shown.quality != Quality::Bad || shown.error != reason)
            setTag(t, badState(reason));
    }
    QVector<PendingWrite> waiting;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting.swap(queued_);
    }
    waiting += underWay_;
    underWay_.clear();
    const QString offline = QStringLiteral("line %1 is offline: %2").arg(config_.name, reason);
    for (PendingWrite& write : waiting) {
        if (!write.readingBack)
            write.done(TagWriteResult{write.valuesSent == 0 ? WriteOutcome::Unavailable : WriteOutcome::Failed, offline});
    }
}

void GatewayLine::queueWrites()
{
    QVector<PendingWrite> taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        taken.swap(queued_);
    }
    for (PendingWrite& write : taken) {
        queueNextPart(&write);
        underWay_.append(write);
    }
}

// A word tag's values go in as few block writes as the block size allows,
// so that they land in one scan of the PLC's program; bits are forced one
// by one. A part goes only once the one before it was acknowledged, so
// that a failed write leaves nothing after its failure written.
void GatewayLine::queueNextPart(PendingWrite* write)
{
    const TagConfig& tag = config_.tags.at(write->tag);
    const bool words = tag.address.type->element == ElementKind::Word;
    const int perRequest = words ? std::max(1, config_.settings.blockSize / tag.registersPerValue()) : 1;
    const int first = write->valuesSent;
    const int n = std::min<int>(perRequest, write->values.size() - first);
    QByteArray bytes;
    for (int v = first; v < first + n; ++v)
        bytes += write->values.at(v);
    write->ids.append(runtime_->queueWrite(valuesAddress(tag, write->firstValue + first, n), bytes));
    write->valuesSent += n;
    write->deadline = QDeadlineTimer(runtime_->giveUpBudgetMs() * 2 + 2000);
}

// The registers of `n` values of a tag from value `first` on; they lie
// inside the tag's, which the reader checked.
VariableAddress GatewayLine::valuesAddress(const TagConfig& tag, int first, int n)
{
    if (first == 0 && n == tag.count)
        return tag.address;
    VariableAddress address;
    QString error;
    parseVariableAddress(tag.address.registerText(first * tag.registersPerValue()), n * tag.registersPerValue(),
                         &address, &error);
    return address;
}

void GatewayLine::settleWrites()
{
    for (int w = 0; w < underWay_.size();) {
        if (settle(&underWay_[w]))
            underWay_.remove(w);
        else
            ++w;
    }
}

bool GatewayLine::collect(PendingWrite* write)
{
    while (!write->ids.isEmpty()) {
        const RequestOutcome outcome = runtime_->wait(write->ids.first(), 0);
        if (!outcome.finished && !write->deadline.hasExpired())
            return false;
        if (write->failure.isEmpty() && !(outcome.finished && outcome.good))
            write->failure = outcome.finished ? outcome.error : QStringLiteral("no completion notice in time");
        write->ids.removeFirst();
    }
    return true;
}

// The write's requests ended: its result goes out, and a good write's
// registers are read back at once, so that the tag shows what the PLC now
// holds. True when nothing more is to be done for it.
bool GatewayLine::settle(PendingWrite* write)
{
    if (!collect(write))
        return false;
    const TagConfig& tag = config_.tags.at(write->tag);
    if (write->readingBack) {
        if (write->failure.isEmpty()) {
            const QByteArray bytes = runtime_->values(tag.address);
            setTag(write->tag, goodState(tagValue(tag, bytes), bytes));
        }
        return true;
    }
    if (write->failure.isEmpty() && write->valuesSent < write->values.size()) {
        queueNextPart(write);
        return false;
    }
    if (!write->failure.isEmpty()) {
        logWarning(QStringLiteral("line %1: write to %2 failed: %3")
                       .arg(config_.name, tag.name, write->failure));
        write->done(TagWriteResult{WriteOutcome::Failed, write->failure});
        return true;
    }
    write->done(TagWriteResult{WriteOutcome::Done, QString()});
    write->readingBack = true;
    write->ids = runtime_->readOnce(tag.address);
    write->deadline = QDeadlineTimer(runtime_->giveUpBudgetMs() * (write->ids.size() + 1) + 2000);
    return false;
}

bool GatewayLine::writesPending() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !queued_.isEmpty() || !underWay_.isEmpty();
}

void GatewayLine::waitForWork(int ms)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (queued_.isEmpty() && !stopping_)
        workArrived_.wait_for(lock, std::chrono::milliseconds(ms));
}
