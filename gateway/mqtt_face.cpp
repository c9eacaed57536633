#include "mqtt_face.h"

#include "gateway_log.h"
#include "json_payloads.h"
#include "mqtt_client.h"
#include "topic_names.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QThread>

#include <algorithm>

namespace {

// Reconnecting to a broker that went away: after 1 s, doubling to 30 s.
constexpr unsigned FirstReconnectDelayS = 1;
constexpr unsigned LastReconnectDelayS = 30;
// How long stop() waits for the broker to take what was published.
constexpr int DeliveryWaitMs = 5000;
// Forwarding what the broker missed: a window every tick, of a tenth of the
// rate; a change kept in memory waits in a queue of at most this many.
constexpr int ForwardTickMs = 100;
constexpr int MaxKeptInMemory = 100000;
const char* const kCursorName = "mqtt";

QByteArray topicBytes(const QString& topic)
{
    return topic.toUtf8();
}

} // namespace

MqttFace::MqttFace(const MqttConfig& config, Gateway& gateway) : config_(config), gateway_(gateway)
{
    mosquitto_lib_init(); // counted: every face has its own init and cleanup
}

MqttFace::~MqttFace()
{
    stop();
    if (client_)
        mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

QString MqttFace::brokerName() const
{
    return brokerAddress(config_);
}

void MqttFace::setHistory(HistoryRecorder* history)
{
    history_ = history;
}

bool MqttFace::start(QString* error)
{
    if (!setUp(error))
        return false;
    gateway_.historyCounters().forwarding = true;
    if (history_) {
        // What the store held past the cursor when it opened was not
        // forwarded before a restart; a store new to forwarding has nothing to forward.
        const qint64 saved = history_->store().cursor(QLatin1String(kCursorName));
        const qint64 before = history_->openedAtId();
        QMutexLocker lock(&mutex_); // the lines may have started
        lastId_ = std::max(lastId_, before);
        missedUpTo_ = std::max(missedUpTo_, before);
        cursor_ = saved >= 0 ? saved : before;
        savedCursor_ = saved;
    }
    forwarder_ = std::thread([this] { forwardLoop(); });
    logInfo(QStringLiteral("broker %1: connecting as %2").arg(brokerName(), config_.clientId));
    // The client's thread first: started after a connection that failed at
    // once (no broker yet), libmosquitto's loop would never try again.
    const int loop = mosquitto_loop_start(client_);
    if (loop != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("cannot start the MQTT client's thread: %1").arg(mosquittoError(loop));
        return false;
    }
    const int code = mosquitto_connect_async(client_, config_.host.toUtf8().constData(), config_.port,
                                             config_.keepAliveS);
    // A broker that is not up yet is reached later by the client's own loop.
    if (code != MOSQ_ERR_SUCCESS)
        logWarning(QStringLiteral("broker %1: %2; trying again").arg(brokerName(), mosquittoError(code)));
    return true;
}

// The client, its last will, credentials, TLS and callbacks.
bool MqttFace::setUp(QString* error)
{
    // A clean session: writes published while the gateway was away are not
    // kept for it by the broker and carried out late.
    client_ = mosquitto_new(config_.clientId.toUtf8().constData(), true, this);
    if (!client_) {
        *error = QStringLiteral("cannot make the MQTT client");
        return false;
    }
    // MQTT 5: only its subscriptions keep the retain flag of a message
    // published retained while the gateway is connected (3.1.1 clears it on
    // the way), so that a retained write is seen and refused.
    int code = mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    if (code != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("MQTT client for %1: %2").arg(brokerName(), mosquittoError(code));
        return false;
    }
    const QByteArray willTopic = topicBytes(gatewayStatusTopic(config_.prefix));
    const QByteArray offline("offline");
    code = mosquitto_will_set(client_, willTopic.constData(), offline.size(), offline.constData(), 1, true);
    if (code == MOSQ_ERR_SUCCESS)
        code = setCredentialsAndTls(client_, config_);
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_reconnect_delay_set(client_, FirstReconnectDelayS, LastReconnectDelayS, true);
    if (code != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("MQTT client for %1: %2").arg(brokerName(), mosquittoError(code));
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttFace::onConnect);
    mosquitto_disconnect_callback_set(client_, &MqttFace::onDisconnect);
    mosquitto_publish_callback_set(client_, &MqttFace::onPublish);
    mosquitto_message_callback_set(client_, &MqttFace::onMessage);
    return true;
}

void MqttFace::stop()
{
    if (!client_)
        return;
    {
        QMutexLocker lock(&mutex_);
        if (stopping_)
            return;
        publish(gatewayStatusTopic(config_.prefix), QByteArray("offline"), true);
        stopping_ = true;
    }
    {
        QMutexLocker lock(&mutex_);
        quitting_ = true;
    }
    tick_.notify_all();
    if (forwarder_.joinable())
        forwarder_.join();
    QDeadlineTimer deadline(DeliveryWaitMs);
    for (;;) {
        {
            QMutexLocker lock(&mutex_);
            if (delivered_ >= published_ || !connected_ || deadline.hasExpired())
                break;
        }
        QThread::msleep(10);
    }
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    saveCursor();
    logInfo(QStringLiteral("broker %1: disconnected").arg(brokerName()));
}

void MqttFace::onConnect(mosquitto*, void* face, int code)
{
    static_cast<MqttFace*>(face)->connected(code);
}

void MqttFace::connected(int code)
{
    if (code != 0) {
        logWarning(QStringLiteral("broker %1 refused the connection: %2; trying again")
                       .arg(brokerName(), QString::fromUtf8(mosquitto_reason_string(code))));
        return;
    }
    logInfo(QStringLiteral("broker %1: connected").arg(brokerName()));
    const QByteArray subscription = topicBytes(setSubscription(config_.prefix));
    mosquitto_subscribe_v5(client_, nullptr, subscription.constData(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    QMutexLocker lock(&mutex_);
    connected_ = true;
    publishEverything();
}

void MqttFace::onDisconnect(mosquitto*, void* face, int code)
{
    auto* self = static_cast<MqttFace*>(face);
    QMutexLocker lock(&self->mutex_);
    self->connected_ = false;
    // A window cut off goes again from the cursor, and live changes not
    // acknowledged are forwarded with the missed ones.
    self->inFlight_.clear();
    self->windowEnd_ = self->cursor_;
    self->lostUnacknowledged();
    if (code != 0 && !self->stopping_)
        logWarning(QStringLiteral("broker %1: connection lost (%2); reconnecting")
                       .arg(self->brokerName(), mosquittoError(code)));
}

void MqttFace::onPublish(mosquitto*, void* face, int messageId)
{
    auto* self = static_cast<MqttFace*>(face);
    QMutexLocker lock(&self->mutex_);
    ++self->delivered_;
    self->acknowledged(messageId);
}

void MqttFace::onMessage(mosquitto*, void* face, const mosquitto_message* message)
{
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    static_cast<MqttFace*>(face)->received(topic, payload, message->retain);
}

void MqttFace::received(const QString& topic, const QByteArray& payload, bool retained)
{
    QString line;
    QString tag;
    if (!parseSetTopic(topic, config_.prefix, &line, &tag))
        return;
    SetRequest request;
    QString error;
    if (retained) {
        gateway_.countRefusal();
        // A retained write would be carried out again at every reconnection:
        // refused whether it was published so while the gateway is connected
        // (the subscription keeps the flag as published) or replayed now.
        answer(line, tag, TagWriteResult{WriteOutcome::Refused, QStringLiteral("a retained write is refused: publish writes without retain")},
               QJsonValue(QJsonValue::Undefined));
        return;
    }
    if (!parseSetPayload(payload, &request, &error)) {
        gateway_.countRefusal();
        answer(line, tag, TagWriteResult{WriteOutcome::Refused, error}, QJsonValue(QJsonValue::Undefined));
        return;
    }
    const QJsonValue id = request.id;
    gateway_.write(line, tag, request.value,
                   [this, line, tag, id](const TagWriteResult& result) { answer(line, tag, result, id); });
}

void MqttFace::answer(const QString& line, const QString& tag, const TagWriteResult& result, const QJsonValue& id)
{
    if (!result.ok())
        logWarning(QStringLiteral("write to %1/%2 refused or failed: %3").arg(line, tag, result.error));
    QMutexLocker lock(&mutex_);
    publish(setResultTopic(config_.prefix, line, tag), writeResultPayload(result, id), false);
}

void MqttFace::tagChanged(int line, int tag, const TagState& state)
{
    const LineConfig& config = gateway_.config().lines.at(line);
    HistoryChange change;
    change.line = config.name;
    change.tag = config.tags.at(tag).name;
    change.tsMs = state.at.toMSecsSinceEpoch();
    change.payload = tagPayload(state);
    QMutexLocker lock(&mutex_);
    // The id and whether the broker takes it live, in one order for all lines.
    change.id = lastId_ = history_ ? history_->record(line, tag, state) : lastId_ + 1;
    int messageId = 0;
    if (publish(tagTopic(config_.prefix, change.line, change.tag), change.payload, true, -1, &messageId)) {
        // Taken by the client, not yet by the broker: a connection lost
        // before its acknowledgement turns it into a missed change.
        if (config_.qos > 0) {
            liveIds_.insert(messageId, change.id);
            unacked_.emplace(change.id, history_ ? HistoryChange() : change);
        }
        if (missedUpTo_ <= cursor_)
            cursor_ = liveCursor();
        return;
    }
    missedUpTo_ = change.id;
    keep(change);
}

// Nothing missed: the broker has every change up to the first not acknowledged.
qint64 MqttFace::liveCursor() const
{
    return unacked_.empty() ? lastId_ : unacked_.begin()->first - 1;
}

void MqttFace::keep(const HistoryChange& change)
{
    if (history_)
        return; // the store has it
    if (kept_.size() >= size_t(MaxKeptInMemory)) {
        kept_.pop_front();
        ++gateway_.historyCounters().queueDropped;
    }
    const auto at = std::upper_bound(kept_.begin(), kept_.end(), change.id,
                                     [](qint64 id, const HistoryChange& kept) { return id < kept.id; });
    kept_.insert(at, change);
}

void MqttFace::lostUnacknowledged()
{
    if (unacked_.empty())
        return;
    cursor_ = std::min(cursor_, unacked_.begin()->first - 1);
    missedUpTo_ = std::max(missedUpTo_, unacked_.rbegin()->first);
    for (const auto& lost : unacked_) {
        if (!history_)
            keep(lost.second);
    }
    unacked_.clear();
    liveIds_.clear();
}

void MqttFace::lineChanged(int line, const LineStatus& status)
{
    const QByteArray payload = lineStatusPayload(status);
    QMutexLocker lock(&mutex_);
    publish(lineStatusTopic(config_.prefix, gateway_.config().lines.at(line).name), payload, true);
}

void MqttFace::publishEverything()
{
    publish(gatewayStatusTopic(config_.prefix), QByteArray("online"), true);
    const QVector<LineSnapshot> lines = gateway_.snapshot();
    for (int l = 0; l < lines.size(); ++l) {
        const LineConfig& line = gateway_.config().lines.at(l);
        publish(lineStatusTopic(config_.prefix, line.name), lineStatusPayload(lines.at(l).status), true);
        for (int t = 0; t < lines.at(l).tags.size(); ++t) {
            const TagState& state = lines.at(l).tags.at(t);
            if (state.quality != Quality::Waiting)
                publish(tagTopic(config_.prefix, line.name, line.tags.at(t).name), tagPayload(state), true);
        }
    }
}

bool MqttFace::publish(const QString& topic, const QByteArray& payload, bool retain, int qos, int* messageId)
{
    // While the broker is away, values are published again on the next
    // connection, and tag changes are kept for it (tagChanged).
    if (!connected_ || stopping_)
        return false;
    const QByteArray name = topicBytes(topic);
    const int code = mosquitto_publish(client_, messageId, name.constData(), payload.size(), payload.constData(),
                                       qos < 0 ? config_.qos : qos, retain);
    if (code != MOSQ_ERR_SUCCESS)
        return false;
    ++published_;
    gateway_.countPublished();
    return true;
}

void MqttFace::forwardLoop()
{
    QMutexLocker lock(&mutex_);
    while (!quitting_) {
        tick_.wait_for(mutex_, std::chrono::milliseconds(ForwardTickMs));
        lock.unlock();
        forwardWindow();
        showBacklog();
        saveCursor();
        lock.relock();
    }
}

// The cursor into the store when it moved, outside the lock: a line never
// waits for the file, which may be busy with a batch.
void MqttFace::saveCursor()
{
    if (!history_)
        return;
    qint64 cursor = 0;
    {
        QMutexLocker lock(&mutex_);
        if (cursor_ == savedCursor_)
            return;
        cursor = cursor_;
    }
    if (history_->store().setCursor(QLatin1String(kCursorName), cursor)) {
        QMutexLocker lock(&mutex_);
        savedCursor_ = cursor;
    }
}

// Up to `limit` missed changes past the cursor, oldest first.
QVector<HistoryChange> MqttFace::missedChanges(int limit)
{
    qint64 from = 0;
    qint64 upTo = 0;
    {
        QMutexLocker lock(&mutex_);
        from = cursor_;
        upTo = missedUpTo_;
        if (!history_) {
            if (kept_.empty())
                cursor_ = std::max(cursor_, missedUpTo_); // what was missed went out, or was let go
            QVector<HistoryChange> changes;
            for (auto it = kept_.begin(); it != kept_.end() && changes.size() < limit; ++it)
                changes.append(*it);
            return changes;
        }
    }
    // Rows still on their way to the file are waited for; rows that retention
    // removed or that were lost are past.
    const qint64 settled = history_->settledId();
    QVector<HistoryChange> changes = history_->store().after(from, std::min(upTo, settled), limit);
    if (changes.isEmpty() && settled >= upTo) {
        QMutexLocker lock(&mutex_);
        if (cursor_ == from)
            cursor_ = std::max(cursor_, upTo);
    }
    return changes;
}

// One window of missed changes, once the last one was acknowledged.
void MqttFace::forwardWindow()
{
    {
        QMutexLocker lock(&mutex_);
        if (!connected_ || stopping_ || !inFlight_.isEmpty())
            return;
        if (missedUpTo_ <= cursor_) {
            // Every change after the missed ones went out live.
            cursor_ = std::max(cursor_, liveCursor());
            if (forwarded_)
                publishEverything();
            forwarded_ = false;
            return;
        }
    }
    const int window = std::max(1, config_.forwardRate * ForwardTickMs / 1000);
    const QVector<HistoryChange> changes = missedChanges(window);
    QMutexLocker lock(&mutex_);
    for (const HistoryChange& change : changes) {
        int messageId = 0;
        if (!publish(historyTopic(config_.prefix, change.line, change.tag), change.payload, false, 1, &messageId))
            break;
        inFlight_.insert(messageId, change.id);
        windowEnd_ = change.id;
        forwarded_ = true;
    }
}

void MqttFace::acknowledged(int messageId)
{
    const auto live = liveIds_.find(messageId);
    if (live != liveIds_.end()) {
        unacked_.erase(live.value());
        liveIds_.erase(live);
        if (missedUpTo_ <= cursor_)
            cursor_ = liveCursor();
        return;
    }
    if (inFlight_.remove(messageId) == 0)
        return;
    ++gateway_.historyCounters().forwarded;
    if (!inFlight_.isEmpty())
        return;
    cursor_ = std::max(cursor_, windowEnd_);
    while (!kept_.empty() && kept_.front().id <= cursor_)
        kept_.pop_front();
}

void MqttFace::showBacklog()
{
    qint64 backlog = 0;
    qint64 oldestMs = 0;
    {
        QMutexLocker lock(&mutex_);
        backlog = history_ ? std::max<qint64>(0, missedUpTo_ - cursor_) : qint64(kept_.size());
        if (!history_ && !kept_.empty())
            oldestMs = kept_.front().tsMs;
    }
    if (history_ && backlog > 0) {
        QMutexLocker lock(&mutex_);
        const qint64 from = cursor_;
        const qint64 upTo = missedUpTo_;
        lock.unlock();
        const QVector<HistoryChange> oldest = history_->store().after(from, upTo, 1);
        if (!oldest.isEmpty())
            oldestMs = oldest.first().tsMs;
    }
    HistoryCounters& counters = gateway_.historyCounters();
    counters.backlog = backlog;
    counters.backlogAgeMs = backlog > 0 && oldestMs > 0 ? std::max<qint64>(0, QDateTime::currentMSecsSinceEpoch() - oldestMs) : 0;
}
