#include "sparkplug_face.h"

#include "gateway_log.h"
#include "mqtt_client.h"
#include "sparkplug_b.pb.h"
#include "sparkplug_topics.h"
#include "value_json.h"

#include <mosquitto.h>

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <chrono>

namespace spb = org::eclipse::tahu::protobuf;

namespace {

// How long the session's thread waits for the broker or an event at a time.
constexpr int LoopTimeoutMs = 50;
// Reconnecting: after 1 s, doubling to 30 s.
constexpr qint64 FirstRetryMs = 1000;
constexpr qint64 LastRetryMs = 30000;
// Historical metrics per DDATA message.
constexpr int HistoricalBatch = 200;
// How often the kept changes hear which lines the born host takes live.
constexpr qint64 HostTookEveryMs = 1000;
// How long stop() lets the NDEATH reach the broker.
constexpr int EndingLoops = 40;
const char* const RebirthMetric = "Node Control/Rebirth";

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

SparkplugFace::SparkplugFace(const MqttConfig& mqtt, const SparkplugConfig& config, Gateway& gateway,
                             std::unique_ptr<KeptChanges> kept)
    : mqtt_(mqtt), config_(config), gateway_(gateway), kept_(std::move(kept))
{
    mosquitto_lib_init();
    const QVector<QVector<SparkplugMetricDef>> metrics = nodeMetrics(gateway_.config().lines);
    for (int line = 0; line < metrics.size(); ++line) {
        Device device;
        device.metrics = metrics.at(line);
        device.last.resize(device.metrics.size());
        device.tags.resize(gateway_.config().lines.at(line).tags.size());
        devices_.append(device);
    }
}

SparkplugFace::~SparkplugFace()
{
    stop();
    if (client_)
        mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

QString SparkplugFace::brokerName() const
{
    return QStringLiteral("Sparkplug B ") + brokerAddress(mqtt_);
}

bool SparkplugFace::start(QString* error)
{
    const QString clientId = mqtt_.clientId + QStringLiteral("-sparkplug");
    // A clean session, as Sparkplug requires of an edge node.
    client_ = mosquitto_new(clientId.toUtf8().constData(), true, this);
    int code = client_ ? MOSQ_ERR_SUCCESS : MOSQ_ERR_NOMEM;
    if (code == MOSQ_ERR_SUCCESS)
        code = setCredentialsAndTls(client_, mqtt_);
    if (code != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("%1: %2").arg(brokerName(), mosquittoError(code));
        return false;
    }
    mosquitto_connect_callback_set(client_, &SparkplugFace::onConnect);
    mosquitto_disconnect_callback_set(client_, &SparkplugFace::onDisconnect);
    mosquitto_message_callback_set(client_, &SparkplugFace::onMessage);
    readBdSeq();
    logInfo(QStringLiteral("%1: edge node %2/%3 as client %4%5")
                .arg(brokerName(), config_.groupId, config_.edgeNodeId, clientId,
                     config_.primaryHostId.isEmpty() ? QString()
                                                     : QStringLiteral(", births wait for primary host %1").arg(config_.primaryHostId)));
    thread_ = std::thread([this] { run(); });
    return true;
}

void SparkplugFace::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SparkplugFace::tagChanged(int line, int tag, const TagState& state)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(Event{line, tag, state, false});
    }
    wake_.notify_all();
}

void SparkplugFace::lineChanged(int line, const LineStatus& status)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(Event{line, -1, TagState(), status.online});
    }
    wake_.notify_all();
}

// The session's thread: connects, runs the client, hands the model's changes on.
void SparkplugFace::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stopRequested_)
                break;
            if (session_ == Session::Down)
                wake_.wait_for(lock, std::chrono::milliseconds(LoopTimeoutMs),
                               [this] { return stopRequested_ || !events_.empty(); });
        }
        if (session_ == Session::Down && nowMs() >= nextAttemptMs_)
            connect();
        if (session_ != Session::Down) {
            const int code = mosquitto_loop(client_, LoopTimeoutMs, 1);
            handleIncoming();
            if (code != MOSQ_ERR_SUCCESS)
                lost(mosquittoError(code), retryDelayMs_);
        }
        handleEvents();
        if (session_ == Session::Born && nowMs() >= hostTookAtMs_ + HostTookEveryMs) {
            QVector<bool> born;
            for (const Device& device : devices_)
                born.append(device.born);
            kept_->hostTook(born);
            hostTookAtMs_ = nowMs();
        }
    }
    endSession();
}

void SparkplugFace::connect()
{
    if (bdSeqSpent_) {
        bdSeq_ = (lastBdSeq_ + 1) % 256;
        bdSeqSpent_ = false;
    }
    std::string will;
    ndeath().SerializeToString(&will);
    const QByteArray topic = sparkplugNodeTopic(config_.groupId, QStringLiteral("NDEATH"), config_.edgeNodeId).toUtf8();
    // The will: QoS 1, not retained.
    int code = mosquitto_will_set(client_, topic.constData(), int(will.size()), will.data(), 1, false);
    if (code == MOSQ_ERR_SUCCESS)
        code = mosquitto_connect_async(client_, mqtt_.host.toUtf8().constData(), mqtt_.port, mqtt_.keepAliveS);
    if (code != MOSQ_ERR_SUCCESS) {
        session_ = Session::Connecting; // for lost() to say it
        lost(mosquittoError(code), retryDelayMs_);
        return;
    }
    session_ = Session::Connecting;
}

void SparkplugFace::onConnect(mosquitto*, void* face, int code)
{
    static_cast<SparkplugFace*>(face)->incoming_.push_back(Incoming{Incoming::Kind::Connected, code, {}, {}});
}

void SparkplugFace::handleIncoming()
{
    while (!incoming_.empty()) {
        std::vector<Incoming> incoming;
        incoming.swap(incoming_); // what handling them makes the client call back comes next round
        for (const Incoming& in : incoming) {
            if (in.kind == Incoming::Kind::Connected)
                connected(in.code);
            else if (in.kind == Incoming::Kind::Disconnected)
                lost(in.code == 0 ? QStringLiteral("disconnected") : mosquittoError(in.code), in.code == 0 ? 0 : FirstRetryMs);
            else
                received(in.topic, in.payload);
        }
    }
}

void SparkplugFace::connected(int code)
{
    if (code != 0) {
        logWarning(QStringLiteral("%1 refused the connection: %2").arg(brokerName(), QString::fromUtf8(mosquitto_connack_string(code))));
        return; // the loop reports the closed connection
    }
    if (session_ != Session::Connecting)
        return; // heard after the session it belonged to ended
    lastBdSeq_ = bdSeq_;
    bdSeqSpent_ = true;
    keepBdSeq();
    retryDelayMs_ = FirstRetryMs;
    session_ = Session::WaitingForHost;
    logInfo(QStringLiteral("%1: connected, bdSeq %2").arg(brokerName()).arg(bdSeq_));
    const QByteArray ncmd = sparkplugNodeTopic(config_.groupId, QStringLiteral("NCMD"), config_.edgeNodeId).toUtf8();
    const QByteArray dcmd = sparkplugDeviceTopic(config_.groupId, QStringLiteral("DCMD"), config_.edgeNodeId, QStringLiteral("+")).toUtf8();
    mosquitto_subscribe(client_, nullptr, ncmd.constData(), 1);
    mosquitto_subscribe(client_, nullptr, dcmd.constData(), 1);
    if (config_.primaryHostId.isEmpty()) {
        birth();
        return;
    }
    // The host's retained STATE answers the subscription.
    const QByteArray state = sparkplugStateTopic(config_.primaryHostId).toUtf8();
    mosquitto_subscribe(client_, nullptr, state.constData(), 1);
}

void SparkplugFace::onDisconnect(mosquitto*, void* face, int code)
{
    static_cast<SparkplugFace*>(face)->incoming_.push_back(Incoming{Incoming::Kind::Disconnected, code, {}, {}});
}

// The session ended: every device is unborn until the next births.
void SparkplugFace::lost(const QString& why, qint64 retryInMs)
{
    if (session_ == Session::Down)
        return;
    logWarning(QStringLiteral("%1: %2; connecting again in %3 s").arg(brokerName(), why).arg(retryInMs / 1000.0));
    session_ = Session::Down;
    for (Device& device : devices_)
        device.born = false;
    nextAttemptMs_ = nowMs() + retryInMs;
    retryDelayMs_ = std::min(retryDelayMs_ * 2, LastRetryMs);
}

void SparkplugFace::handleEvents()
{
    std::deque<Event> events;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events.swap(events_);
    }
    for (const Event& event : events) {
        if (event.line < 0 || event.line >= devices_.size())
            continue;
        if (event.tag < 0)
            lineEvent(event);
        else
            tagEvent(event);
    }
}

QByteArray SparkplugFace::valueBytes(int line, int metric) const
{
    const Device& device = devices_.at(line);
    const SparkplugMetricDef& def = device.metrics.at(metric);
    const TagState& state = device.tags.at(def.tag);
    const int size = gateway_.config().lines.at(line).tags.at(def.tag).bytesPerValue();
    if (state.quality != Quality::Good || state.value.bytes.size() < (def.value + 1) * size)
        return QByteArray();
    return state.value.bytes.mid(def.value * size, size);
}

void SparkplugFace::tagEvent(const Event& event)
{
    Device& device = devices_[event.line];
    if (event.tag >= device.tags.size())
        return;
    device.tags[event.tag] = event.state;
    const bool live = session_ == Session::Born && device.born;
    // Kept only while a primary host may be missing them: without one, the
    // next births carry the current values.
    const bool keeping = session_ != Session::Born && !config_.primaryHostId.isEmpty()
        && event.state.quality != Quality::Waiting;
    if (!live && !keeping)
        return;
    Payload payload;
    const qint64 at = event.state.at.toMSecsSinceEpoch();
    for (int m = 0; m < device.metrics.size(); ++m) {
        const SparkplugMetricDef& def = device.metrics.at(m);
        if (def.tag != event.tag)
            continue;
        const QByteArray bytes = valueBytes(event.line, m);
        if (bytes == device.last.at(m))
            continue;
        device.last[m] = bytes;
        if (keeping) {
            kept_->keep(KeptChange{event.line, def.alias, def.datatype, bytes, at});
            continue;
        }
        SparkplugMetric* metric = payload.add_metrics();
        metric->set_alias(def.alias);
        metric->set_timestamp(quint64(at));
        setMetricValue(metric, def.datatype, bytes);
    }
    if (keeping)
        sayDropped();
    if (payload.metrics_size() == 0)
        return;
    payload.set_timestamp(quint64(nowMs()));
    payload.set_seq(nextSeq());
    publish(sparkplugDeviceTopic(config_.groupId, QStringLiteral("DDATA"), config_.edgeNodeId,
                                 gateway_.config().lines.at(event.line).name),
            payload);
}

void SparkplugFace::sayDropped()
{
    if (kept_->dropped() <= droppedSaid_)
        return;
    gateway_.countSparkplugDropped(kept_->dropped() - droppedSaid_);
    if (droppedSaid_ == 0)
        logWarning(QStringLiteral("%1: the primary host is away for long: the oldest kept changes are dropped "
                                  "(counted in tavrin_gateway_sparkplug_dropped_total)")
                       .arg(brokerName()));
    droppedSaid_ = kept_->dropped();
}

void SparkplugFace::lineEvent(const Event& event)
{
    Device& device = devices_[event.line];
    device.online = event.online;
    if (session_ != Session::Born)
        return;
    if (device.online && !device.born) {
        deviceBirth(event.line);
    } else if (!device.online && device.born) {
        Payload payload;
        payload.set_timestamp(quint64(nowMs()));
        payload.set_seq(nextSeq());
        publish(sparkplugDeviceTopic(config_.groupId, QStringLiteral("DDEATH"), config_.edgeNodeId,
                                     gateway_.config().lines.at(event.line).name),
                payload);
        device.born = false;
    }
}

quint64 SparkplugFace::nextSeq()
{
    const quint64 seq = seq_;
    seq_ = (seq_ + 1) % 256;
    return seq;
}

SparkplugFace::Payload SparkplugFace::ndeath() const
{
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    SparkplugMetric* metric = payload.add_metrics();
    metric->set_name("bdSeq");
    metric->set_datatype(spb::Int64);
    metric->set_long_value(quint64(bdSeq_));
    return payload;
}

void SparkplugFace::birth()
{
    // What the model told so far is kept or known first: the births carry
    // the latest values, and everything older goes before them as history.
    handleEvents();
    seq_ = 0;
    Payload payload = ndeath();
    payload.set_seq(nextSeq());
    SparkplugMetric* rebirth = payload.add_metrics();
    rebirth->set_name(RebirthMetric);
    rebirth->set_datatype(spb::Boolean);
    rebirth->set_boolean_value(false);
    if (!publish(sparkplugNodeTopic(config_.groupId, QStringLiteral("NBIRTH"), config_.edgeNodeId), payload))
        return;
    session_ = Session::Born;
    for (int line = 0; line < devices_.size(); ++line) {
        devices_[line].born = false;
        if (devices_.at(line).online)
            deviceBirth(line);
    }
}

void SparkplugFace::deviceBirth(int line)
{
    Device& device = devices_[line];
    Payload payload;
    payload.set_timestamp(quint64(nowMs()));
    payload.set_seq(nextSeq());
    for (int m = 0; m < device.metrics.size(); ++m) {
        const SparkplugMetricDef& def = device.metrics.at(m);
        SparkplugMetric* metric = payload.add_metrics();
        metric->set_name(def.name.toStdString());
        metric->set_alias(def.alias);
        metric->set_datatype(def.datatype);
        const TagState& state = device.tags.at(def.tag);
        metric->set_timestamp(quint64(state.at.isValid() ? state.at.toMSecsSinceEpoch() : nowMs()));
        device.last[m] = valueBytes(line, m);
        setMetricValue(metric, def.datatype, device.last.at(m));
    }
    publish(sparkplugDeviceTopic(config_.groupId, QStringLiteral("DBIRTH"), config_.edgeNodeId,
                                 gateway_.config().lines.at(line).name),
            payload);
    device.born = true;
    sendKept(line);
}

// What was kept while the host was away, oldest first, before live data.
void SparkplugFace::sendKept(int line)
{
    const QVector<KeptChange> changes = kept_->take(line);
    sayDropped();
    const QString topic = sparkplugDeviceTopic(config_.groupId, QStringLiteral("DDATA"), config_.edgeNodeId,
                                               gateway_.config().lines.at(line).name);
    for (int first = 0; first < changes.size(); first += HistoricalBatch) {
        Payload payload;
        payload.set_timestamp(quint64(nowMs()));
        payload.set_seq(nextSeq());
        for (int k = first; k < std::min(int(changes.size()), first + HistoricalBatch); ++k) {
            const KeptChange& change = changes.at(k);
            SparkplugMetric* metric = payload.add_metrics();
            metric->set_alias(change.alias);
            metric->set_timestamp(quint64(change.atMs));
            metric->set_is_historical(true);
            setMetricValue(metric, change.datatype, change.bytes);
        }
        publish(topic, payload);
    }
    if (!changes.isEmpty())
        logInfo(QStringLiteral("%1: line %2: %3 kept changes sent as historical data")
                    .arg(brokerName(), gateway_.config().lines.at(line).name)
                    .arg(changes.size()));
}

bool SparkplugFace::publish(const QString& topic, const Payload& payload, int qos)
{
    std::string bytes;
    payload.SerializeToString(&bytes);
    const QByteArray name = topic.toUtf8();
    // Births, data and deaths: QoS 0, not retained, as Sparkplug requires.
    const int code = mosquitto_publish(client_, nullptr, name.constData(), int(bytes.size()), bytes.data(), qos, false);
    if (code != MOSQ_ERR_SUCCESS)
        return false;
    gateway_.countPublished();
    return true;
}

void SparkplugFace::onMessage(mosquitto*, void* face, const mosquitto_message* message)
{
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    static_cast<SparkplugFace*>(face)->incoming_.push_back(Incoming{Incoming::Kind::Message, 0, topic, payload});
}

void SparkplugFace::received(const QString& topic, const QByteArray& payload)
{
    const QString ncmd = sparkplugNodeTopic(config_.groupId, QStringLiteral("NCMD"), config_.edgeNodeId);
    const QString dcmd = sparkplugDeviceTopic(config_.groupId, QStringLiteral("DCMD"), config_.edgeNodeId, QString());
    if (!config_.primaryHostId.isEmpty() && topic == sparkplugStateTopic(config_.primaryHostId))
        hostState(payload);
    else if (topic == ncmd)
        nodeCommand(payload);
    else if (topic.startsWith(dcmd))
        deviceCommand(topic.mid(dcmd.size()), payload);
}

// {"online":BOOL,"timestamp":MS}; an older timestamp than the latest taken is stale.
void SparkplugFace::hostState(const QByteArray& payload)
{
    const QJsonObject state = QJsonDocument::fromJson(payload).object();
    const QJsonValue online = state.value(QStringLiteral("online"));
    const QJsonValue timestamp = state.value(QStringLiteral("timestamp"));
    if (!online.isBool() || !timestamp.isDouble()) {
        logWarning(QStringLiteral("%1: STATE of %2 is not {\"online\":BOOL,\"timestamp\":MS}: ignored")
                       .arg(brokerName(), config_.primaryHostId));
        return;
    }
    const qint64 at = qint64(timestamp.toDouble());
    if (at < hostTimestamp_)
        return;
    hostTimestamp_ = at;
    logInfo(QStringLiteral("%1: primary host %2 %3").arg(brokerName(), config_.primaryHostId,
                                                        online.toBool() ? QStringLiteral("online") : QStringLiteral("offline")));
    if (online.toBool() && session_ == Session::WaitingForHost) {
        birth();
    } else if (!online.toBool() && session_ == Session::Born) {
        // The session ends and starts over: its births wait for the host.
        // Births wait again, and changes are kept, from here on; the
        // disconnection ends the session and a new one starts at once.
        publish(sparkplugNodeTopic(config_.groupId, QStringLiteral("NDEATH"), config_.edgeNodeId), ndeath(), 1);
        session_ = Session::WaitingForHost;
        mosquitto_disconnect(client_);
    }
}

void SparkplugFace::refuse(const QString& why)
{
    gateway_.countRefusal();
    logWarning(QStringLiteral("%1: command refused: %2").arg(brokerName(), why));
}

void SparkplugFace::nodeCommand(const QByteArray& bytes)
{
    Payload payload;
    if (!payload.ParseFromArray(bytes.constData(), int(bytes.size())))
        return refuse(QStringLiteral("NCMD is no Sparkplug B payload"));
    bool rebirth = false;
    for (const SparkplugMetric& metric : payload.metrics()) {
        if (metric.name() == RebirthMetric && metric.value_case() == SparkplugMetric::kBooleanValue)
            rebirth = rebirth || metric.boolean_value();
        else
            refuse(QStringLiteral("NCMD metric \"%1\": the node takes %2 (Boolean) only")
                       .arg(QString::fromStdString(metric.name()), QLatin1String(RebirthMetric)));
    }
    if (rebirth && session_ == Session::Born) {
        logInfo(QStringLiteral("%1: rebirth asked for").arg(brokerName()));
        birth();
    }
}

void SparkplugFace::deviceCommand(const QString& lineName, const QByteArray& bytes)
{
    const int line = gateway_.config().lineIndex(lineName);
    Payload payload;
    if (line < 0)
        return refuse(QStringLiteral("DCMD for device \"%1\": no such line").arg(lineName));
    if (!payload.ParseFromArray(bytes.constData(), int(bytes.size())))
        return refuse(QStringLiteral("DCMD for %1 is no Sparkplug B payload").arg(lineName));
    const LineConfig& config = gateway_.config().lines.at(line);
    const QVector<SparkplugMetricDef>& metrics = devices_.at(line).metrics;
    for (const SparkplugMetric& metric : payload.metrics()) {
        const auto def = std::find_if(metrics.begin(), metrics.end(), [&](const SparkplugMetricDef& d) {
            return metric.has_alias() ? d.alias == metric.alias() : d.name == QString::fromStdString(metric.name());
        });
        const QString named = metric.has_alias() ? QStringLiteral("alias %1").arg(metric.alias())
                                                  : QStringLiteral("\"%1\"").arg(QString::fromStdString(metric.name()));
        if (def == metrics.end()) {
            refuse(QStringLiteral("DCMD for %1: no metric %2").arg(lineName, named));
            continue;
        }
        QJsonValue value;
        QString error;
        if (!commandValueJson(metric, def->datatype, &value, &error)) {
            refuse(QStringLiteral("DCMD for %1: %2").arg(lineName, error));
            continue;
        }
        const TagConfig& tag = config.tags.at(def->tag);
        const QString what = QStringLiteral("DCMD %1/%2").arg(lineName, def->name);
        const WriteDone done = [this, what](const TagWriteResult& result) {
            if (!result.ok())
                logWarning(QStringLiteral("%1: %2 refused or failed: %3").arg(brokerName(), what, result.error));
        };
        if (tag.count == 1) {
            gateway_.write(lineName, tag.name, value, done);
            continue;
        }
        QVector<QByteArray> values;
        if (!valuesFromJson(value, tag.format, tag.address.type->element, 1, &values, &error)) {
            gateway_.countRefusal();
            done(TagWriteResult{WriteOutcome::Refused, error});
            continue;
        }
        gateway_.writeValues(line, def->tag, def->value, values, done);
    }
}

// A clean end: the NDEATH first, as the will would have said it.
void SparkplugFace::endSession()
{
    if (session_ == Session::Down || session_ == Session::Connecting)
        return;
    publish(sparkplugNodeTopic(config_.groupId, QStringLiteral("NDEATH"), config_.edgeNodeId), ndeath(), 1);
    session_ = Session::Down; // a disconnection asked for, not lost
    mosquitto_disconnect(client_);
    for (int k = 0; k < EndingLoops && mosquitto_loop(client_, LoopTimeoutMs, 1) == MOSQ_ERR_SUCCESS; ++k) {
    }
    logInfo(QStringLiteral("%1: NDEATH sent, disconnected").arg(brokerName()));
}

void SparkplugFace::readBdSeq()
{
    if (config_.bdSeqFile.isEmpty())
        return;
    QFile file(config_.bdSeqFile);
    if (!file.open(QIODevice::ReadOnly))
        return; // none yet: bdSeq starts at 0
    bool ok = false;
    const int last = QString::fromUtf8(file.read(16)).trimmed().toInt(&ok);
    if (ok && last >= 0 && last <= 255)
        lastBdSeq_ = last;
    else
        logWarning(QStringLiteral("%1: %2 holds no bdSeq of 0 to 255: starting at 0").arg(brokerName(), config_.bdSeqFile));
}

void SparkplugFace::keepBdSeq()
{
    if (config_.bdSeqFile.isEmpty())
        return;
    QSaveFile file(config_.bdSeqFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(lastBdSeq_) + '\n') < 0 || !file.commit())
        logWarning(QStringLiteral("%1: cannot keep bdSeq in %2: %3").arg(brokerName(), config_.bdSeqFile, file.errorString()));
}
