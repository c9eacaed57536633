#pragma once

// The gateway on an MQTT broker, through libmosquitto, over MQTT 5:
// publishes the model's tag and line states as retained messages, takes
// writes from the set topics (refusing one that comes retained), and answers
// each on its result topic (topic_names.h, json_payloads.h). The client's own thread keeps the connection: a broker
// that goes away is reconnected with a back-off of 1 s doubling to 30 s,
// while the lines go on polling, and on every connection everything the
// model knows is published again. The client's last will says the gateway
// is offline.
//
// Store and forward: every change gets an id in the order it was handled;
// one the broker did not take live (it was away, or the gateway restarted)
// is kept, in the history store when there is one, else in a memory queue
// of at most 100000 changes (past that the oldest go, counted). Back on the
// broker, the live values go out at once as above; the kept changes follow,
// oldest first, on PREFIX/LINE/TAG/history (QoS 1, not retained, the live
// payload with its own ts), paced at forward_rate messages a second in
// windows of a tenth of that, each window acknowledged before the next;
// then the current values are published again, so the last retained
// message is the newest. The history store keeps the "mqtt" cursor, the
// last change the broker had, so a restart loses nothing that was stored.
// A live change the broker did not acknowledge before the connection was
// lost counts as missed. A change may come twice (a window or an
// acknowledgement cut off by a lost connection), never not.

#include "gateway.h"
#include "gateway_config.h"
#include "gateway_model.h"
#include "history_recorder.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <condition_variable>
#include <deque>
#include <map>
#include <thread>

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
    // Before start(): record every change in this store and forward from it.
    void setHistory(HistoryRecorder* history);
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
    // Caller holds mutex_; false when the client did not take it.
    bool publish(const QString& topic, const QByteArray& payload, bool retain, int qos = -1, int* messageId = nullptr);
    void forwardLoop();
    void forwardWindow();
    void acknowledged(int messageId);
    void showBacklog();
    void saveCursor();
    QVector<HistoryChange> missedChanges(int limit);
    qint64 liveCursor() const;          // caller holds mutex_, as for the three below
    void keep(const HistoryChange& change);
    void lostUnacknowledged();
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

    // Store and forward; ids are the history store's, or counted here without one.
    HistoryRecorder* history_ = nullptr;
    qint64 lastId_ = 0;     // the last change handled
    qint64 cursor_ = 0;     // the broker had every change up to it
    qint64 missedUpTo_ = 0; // the last change it did not get live; forwarded while above the cursor
    qint64 savedCursor_ = 0;
    std::deque<HistoryChange> kept_; // without a history store: the missed changes
    std::map<qint64, HistoryChange> unacked_; // published live, not acknowledged yet (QoS 1, 2)
    QHash<int, qint64> liveIds_;     // their message ids
    QHash<int, qint64> inFlight_;    // a window's message ids, and their changes
    qint64 windowEnd_ = 0;
    bool forwarded_ = false;         // a backlog went out: publish the current values after it
    bool quitting_ = false;
    std::condition_variable_any tick_;
    std::thread forwarder_;
};
