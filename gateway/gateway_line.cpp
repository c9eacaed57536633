#include "gateway_line.h"

#include "gateway_log.h"
#include "poll_period.h"
#include "tag_value.h"

#include <algorithm>
#include <chrono>

namespace {

QDateTime now()
{
    return QDateTime::currentDateTimeUtc();
}

TagState goodState(const TypedValue& value)
{
    return TagState{Quality::Good, value, QString(), now()};
}

TagState badState(const QString& error)
{
    return TagState{Quality::Bad, TypedValue(), error, now()};
}

} // namespace

GatewayLine::GatewayLine(const LineConfig& config, int index, std::shared_ptr<ModuleInstance> module,
                         QVector<GatewayListener*> listeners)
    : config_(config)
    , index_(index)
    , listeners_(std::move(listeners))
{
    snapshot_.status.reason = QStringLiteral("not started yet");
    snapshot_.status.at = now();
    snapshot_.tags.resize(config_.tags.size());
    const LineSettings settings = config_.settings;
    runtime_ = std::make_unique<HostRuntime>([settings] { return makeDeviceLine(settings); }, settings,
                                             std::move(module));
    runtime_->addListener(this);
}

GatewayLine::~GatewayLine()
{
    stop();
}

void GatewayLine::start()
{
    QString error;
    if (!runtime_->startPersistent(&error)) {
        logWarning(QStringLiteral("line %1: %2").arg(config_.name, error));
        failAll(error);
        return;
    }
    started_ = true;
    QList<VariableAddress> polled;
    QVector<int> everyMs;
    for (const TagConfig& tag : config_.tags) {
        polled.append(tag.address);
        everyMs.append(tag.everyMs);
    }
    const int blocks = runtime_->setPolledVariables(polled, everyMs);
    // With poll classes, each class's blocks: "every 200ms 1, the others 16".
    QStringList classes;
    const QVector<PollClassFigures> figures = runtime_->pollClasses();
    for (const PollClassFigures& pollClass : figures) {
        if (figures.size() > 1 || pollClass.periodUs > 0)
            classes << QStringLiteral("%1 %2")
                           .arg(pollClass.periodUs > 0 ? QStringLiteral("every ") + pollPeriodText(int(pollClass.periodUs / 1000))
                                                       : QStringLiteral("the others"))
                           .arg(pollClass.blocks);
    }
    logInfo(QStringLiteral("line %1: polling on %2, %3 tags in %4 read blocks%5")
                .arg(config_.name, config_.portText)
                .arg(config_.tags.size())
                .arg(blocks)
                .arg(classes.isEmpty() ? QString() : QStringLiteral(" (") + classes.join(QStringLiteral(", ")) + QLatin1Char(')')));
}

void GatewayLine::beginStop()
{
    std::lock_guard<std::mutex> lock(mutex_);
    refusingWrites_ = true;
}

void GatewayLine::stop()
{
    if (!started_)
        return;
    beginStop();
    {
        // The writes under way end within their budget: proven, or not
        // confirmed when the runtime stops before it could read them back.
        std::unique_lock<std::mutex> lock(mutex_);
        writesEnded_.wait_for(lock, std::chrono::milliseconds(runtime_->giveUpBudgetMs() * 2 + 2000),
                              [this] { return pending_.isEmpty(); });
    }
    runtime_->stop();
    started_ = false;
    failAll(QStringLiteral("the gateway stopped"));
}

LineSnapshot GatewayLine::snapshot() const
{
    LineSnapshot copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        copy = snapshot_;
        // A list of its own: a shared one would be written here, after an
        // unsynchronised look at whether it is still shared, while read there.
        copy.tags = QVector<TagState>(snapshot_.tags.begin(), snapshot_.tags.end());
    }
    copy.statistics = runtime_->statistics();
    copy.pollClasses = runtime_->pollClasses();
    copy.turnaroundUs = copy.statistics.goodReplies > 0 ? copy.statistics.turnaroundUs : -1;
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
    QString refusal;
    {
        // `done` is called without the lock: a face may ask for a snapshot from it.
        std::lock_guard<std::mutex> lock(mutex_);
        if (refusingWrites_ || !started_)
            refusal = QStringLiteral("the gateway is stopping");
        else if (!snapshot_.status.online)
            refusal = QStringLiteral("line %1 is offline: %2").arg(config_.name, snapshot_.status.reason);
        if (refusal.isEmpty()) {
            // All values in one write: the runtime sends them in as few block
            // writes as the block size allows, one after the other, so that
            // they land in one scan where they fit one block, and a failure
            // leaves nothing after it written.
            QByteArray bytes;
            for (const QByteArray& value : values)
                bytes += value;
            const RequestId id
                = runtime_->queueWrite(valuesAddress(config, firstValue, static_cast<int>(values.size())), bytes);
            pending_.insert(id, PendingWrite{tag, done});
        }
    }
    if (!refusal.isEmpty())
        refuse(WriteOutcome::Unavailable, refusal);
}

// The registers of `n` values of a tag from value `first` on; they lie
// inside the tag's, which the reader checked.
VariableAddress GatewayLine::valuesAddress(const TagConfig& tag, int first, int n)
{
    VariableAddress address = tag.address;
    address.index += first * tag.registersPerValue();
    address.registers = n * tag.registersPerValue();
    address.text = tag.address.registerText(first * tag.registersPerValue());
    return address;
}

void GatewayLine::requestEnded(RequestId id, const RequestOutcome& outcome)
{
    PendingWrite write;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pending_.find(id);
        if (it == pending_.end())
            return;
        write = *it;
        pending_.erase(it);
    }
    const TagConfig& tag = config_.tags.at(write.tag);
    if (!write.done) {
        // The read-back of a good write: the tag shows what the PLC now holds.
        if (outcome.good) {
            const QByteArray bytes = runtime_->values(tag.address);
            setTag(write.tag, goodState(tagValue(tag, bytes)));
        }
    } else if (outcome.good) {
        write.done(TagWriteResult{WriteOutcome::Done, QString()});
        std::lock_guard<std::mutex> lock(mutex_);
        for (const RequestId readBack : runtime_->readOnce(tag.address))
            pending_.insert(readBack, PendingWrite{write.tag, WriteDone()});
    } else {
        logWarning(QStringLiteral("line %1: write to %2 failed: %3").arg(config_.name, tag.name, outcome.error));
        write.done(TagWriteResult{WriteOutcome::Failed, outcome.error});
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.isEmpty())
        writesEnded_.notify_all();
}

void GatewayLine::polledChanged(const QVector<int>& tags)
{
    for (const int tag : tags) {
        if (tag >= 0 && tag < config_.tags.size())
            lookAtTag(tag);
    }
}

void GatewayLine::lookAtTag(int tag)
{
    const VariableQuality quality = runtime_->quality(tag);
    const TagState shown = tagState(tag);
    if (quality.quality == Quality::Good) {
        const TagConfig& config = config_.tags.at(tag);
        const TypedValue value = tagValue(config, runtime_->values(config.address));
        if (shown.quality == Quality::Good && shown.value.bytes == value.bytes)
            return; // the same bytes: no JSON made to learn that on every reply
        if (shown.quality != Quality::Good || differsBeyond(shown.value.json(), value.json(), config.deadband))
            setTag(tag, goodState(value));
    } else if (quality.quality == Quality::Bad) {
        if (shown.quality != Quality::Bad || shown.error != quality.error)
            setTag(tag, badState(quality.error));
    }
}

void GatewayLine::lineChanged(const LineHealth& health)
{
    setStatus(health.state == LineState::Up, health.reason);
}

void GatewayLine::lineEvent(const LineEvent& event)
{
    if (event.kind != LineEvent::Kind::NotAnswering && event.kind != LineEvent::Kind::Answering)
        logInfo(QStringLiteral("line %1: %2").arg(config_.name, event.text));
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

// No runtime any more: the line is offline and no tag is vouched for.
void GatewayLine::failAll(const QString& reason)
{
    setStatus(false, reason);
    for (int t = 0; t < config_.tags.size(); ++t) {
        const TagState shown = tagState(t);
        if (shown.quality != Quality::Bad || shown.error != reason)
            setTag(t, badState(reason));
    }
}
