#pragma once

// The gateway as a Sparkplug B edge node (Sparkplug 3.0), on the mqtt:
// section's broker, in an MQTT session of its own: an edge node's NDEATH
// must be its session's will, which the JSON face's session cannot carry.
// Its client id is the mqtt: client id with "-sparkplug" added.
//
// Each line is a device (device id: the line's name), each tag value a
// metric (sparkplug_metrics.h). One thread owns the session and all its
// state (bdSeq, seq, what each device last published): the lines' changes
// reach it through a queue, commands arrive on it.
//
//   session:  NDEATH with bdSeq is the will; bdSeq goes up by one with every
//             session (0 to 255), kept in bdseq_file across restarts
//   births:   NBIRTH (seq 0, bdSeq, Node Control/Rebirth false), then a
//             DBIRTH for every line online; with a primary host, only once
//             its STATE says online
//   data:     DDATA by alias for each change (the tags' deadbands apply
//             upstream, as for the JSON face); a bad value is is_null
//   lines:    DDEATH when the PLC stops answering, DBIRTH when it is back
//   commands: NCMD Node Control/Rebirth = true: all births again, same
//             bdSeq; DCMD: writes through the model's write path, refused
//             (logged, counted) for an unknown or read-only metric
//   host:     while the primary host is offline (or the broker away) the
//             changes are kept (kept_changes.h; in the history store when
//             there is one, stored_kept_changes.h) and sent after the line's
//             next DBIRTH as is_historical DDATA, oldest first; a host going
//             offline ends the session with an NDEATH, and a new one starts

#include "gateway.h"
#include "gateway_config.h"
#include "gateway_model.h"
#include "kept_changes.h"
#include "sparkplug_metrics.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace org::eclipse::tahu::protobuf {
class Payload;
}

class SparkplugFace : public GatewayListener {
public:
    SparkplugFace(const MqttConfig& mqtt, const SparkplugConfig& config, Gateway& gateway,
                  std::unique_ptr<KeptChanges> kept = std::make_unique<MemoryKeptChanges>());
    ~SparkplugFace() override;
    SparkplugFace(const SparkplugFace&) = delete;
    SparkplugFace& operator=(const SparkplugFace&) = delete;

    // Makes the client and starts the session's thread. False with a
    // message when the client cannot be made; a broker not up yet is no failure.
    bool start(QString* error);
    // Publishes the NDEATH, disconnects and ends the thread.
    void stop();

    void tagChanged(int line, int tag, const TagState& state) override;
    void lineChanged(int line, const LineStatus& status) override;

private:
    enum class Session { Down, Connecting, WaitingForHost, Born };
    struct Event {
        int line = 0;
        int tag = -1;       // -1: the line's status changed
        TagState state;
        bool online = false;
    };
    struct Device {
        QVector<SparkplugMetricDef> metrics;
        QVector<QByteArray> last;   // per metric: what was last published or kept; empty: null
        QVector<TagState> tags;     // the model's latest, in the order it told
        bool online = false;
        bool born = false;
    };
    // What the client's callbacks heard: handled after the client's loop
    // returns, never inside a callback, so that no call into the client
    // nests in the locks it holds while calling back.
    struct Incoming {
        enum class Kind { Connected, Disconnected, Message } kind;
        int code = 0;
        QString topic;
        QByteArray payload;
    };
    using Payload = org::eclipse::tahu::protobuf::Payload;

    static void onConnect(mosquitto* client, void* face, int code);
    static void onDisconnect(mosquitto* client, void* face, int code);
    static void onMessage(mosquitto* client, void* face, const mosquitto_message* message);

    void run();
    void handleIncoming();
    void connect();
    void connected(int code);
    void lost(const QString& why, qint64 retryInMs);
    void handleEvents();
    void tagEvent(const Event& event);
    void lineEvent(const Event& event);
    void received(const QString& topic, const QByteArray& payload);
    void hostState(const QByteArray& payload);
    void nodeCommand(const QByteArray& payload);
    void deviceCommand(const QString& device, const QByteArray& payload);
    void refuse(const QString& why);

    void birth();
    void deviceBirth(int line);
    void sendKept(int line);
    void sayDropped();
    void endSession();
    bool publish(const QString& topic, const Payload& payload, int qos = 0);
    quint64 nextSeq();
    QByteArray valueBytes(int line, int metric) const;
    Payload ndeath() const;
    QString brokerName() const;
    void readBdSeq();
    void keepBdSeq();

    const MqttConfig mqtt_;
    const SparkplugConfig config_;
    Gateway& gateway_;
    const std::unique_ptr<KeptChanges> kept_;
    mosquitto* client_ = nullptr;
    std::thread thread_;

    std::mutex mutex_; // guards the queue and the stop request
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool stopRequested_ = false;

    // The session's thread only, from here on.
    QVector<Device> devices_;
    std::vector<Incoming> incoming_;
    Session session_ = Session::Down;
    int bdSeq_ = 0;
    int lastBdSeq_ = -1;     // of the last session that was established
    bool bdSeqSpent_ = true; // the next attempt takes a new bdSeq
    quint64 seq_ = 0;
    qint64 hostTimestamp_ = -1; // of the latest STATE taken
    qint64 nextAttemptMs_ = 0;
    qint64 retryDelayMs_ = 1000;
    qint64 droppedSaid_ = 0;
    qint64 hostTookAtMs_ = 0;
};
