#pragma once

// The gateway on an MQTT broker, through libmosquitto, over MQTT 5:
// publishes the model's tag and line states as retained messages, takes
// writes from the set topics (refusing one that comes retained), and answers
// each on its result topic (topic_names.h, mqtt_payloads.h). The client's own thread keeps the connection: a broker
// that goes away is reconnected with a back-off of 1 s doubling to 30 s,
// while the lines go on polling, and on every connection everything the
// model knows is published again. The client's last will says the gateway
// is offline.

#include "gateway.h"
#include "gateway_config.h"
#include "gateway_model.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

struct mosquitto;
struct mosquitto_message;

class MqttFace : public GatewayListener {
public:
    MqttFace(const MqttConfig& config, Gateway& gateway);
    ~MqttFace() override;
    MqttFace(const MqttFace&) = delete;
    MqttFace& operator=(const MqttFace&) = delete;

    // Makes the client and starts connecting in the background. False with a
    // message when the client cannot be made (TLS files, a host name that
    // does not resolve); a broker that is not up yet is no failure.
    bool start(QString* error);
    // Says the gateway is offline, waits a little for the broker to have
    // taken what was published, and disconnects.
    void stop();

    void tagChanged(int line, int tag, const TagState& state) override;
    void lineChanged(int line, const LineStatus& status) override;

private:
    static void onConnect(mosquitto* client, void* face, int code);
    static void onDisconnect(mosquitto* client, void* face, int code);
    static void onPublish(mosquitto* client, void* face, int messageId);
    static void onMessage(mosquitto* client, void* face, const mosquitto_message* message);

    void connected(int code);
    void received(const QString& topic, const QByteArray& payload, bool retained);
    void answer(const QString& line, const QString& tag, const TagWriteResult& result, const QJsonValue& id);
    void publishEverything();              // caller holds mutex_
    void publish(const QString& topic, const QByteArray& payload, bool retain); // caller holds mutex_
    bool setUp(QString* error);
    QString brokerName() const;

    const MqttConfig config_;
    Gateway& gateway_;
    mosquitto* client_ = nullptr;

    QMutex mutex_; // guards the members below it
    bool connected_ = false;
    bool stopping_ = false;
    qint64 published_ = 0; // messages handed to the client
    qint64 delivered_ = 0; // of them, taken by the broker (QoS 1 and 2) or sent (QoS 0)
};
