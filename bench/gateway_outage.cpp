// Store-and-forward at plant scale: LINES virtual PLCs on loopback TCP (300
// tags each, paced as 115200-baud lines), one `tavrin gateway` process with a
// history store, a mosquitto broker with persistence, and a subscriber in
// this program with a session the broker keeps (clean session false, QoS 1,
// a fixed client id) on PREFIX/+/+ and PREFIX/+/+/history.
//
// Every tag changes every CHANGE_EVERY ms in PLC memory; the program keeps
// each value and when it was set. After WARMUP s it stops the broker for
// OUTAGE s, kills the gateway (SIGKILL) RESTART_AT s into the outage and
// starts it again, then starts the broker again on the same port. It checks:
//   - every change set during the outage reached the subscriber, on
//     .../history in order per tag with its original ts (missing, duplicated,
//     out of order counted; a change the killed gateway had not stored, or
//     that came and went while no gateway ran, is missing by design and
//     said with its time);
//   - the retained values at the end are the newest values in PLC memory;
// and measures the time from the broker's return to a backlog of 0 (the
// gateway's /metrics), the gateway's and the broker's CPU and the gateway's
// peak resident memory per phase, the history file's size, and the delay of
// live changes before the outage and while the backlog is forwarded.
// Exit status: 0 when nothing but the changes of the gateway's own gap is
// missing and the retained values are right, 2 when not, 1 when something
// failed.
//
//   tavrin_gateway_outage [--lines 8] [--tags 300] [--change-every-ms 1000] [--warmup-s 20]
//                         [--outage-s 120] [--restart-at-s 60] [--forward-rate 2000]

#include "number_options.h"
#include "plant_processes.h"
#include "process_figures.h"

#include <mosquitto.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace {

constexpr int RelaysPerLine = 50; // the rest of a line's tags are data words
constexpr const char* SubscriberId = "tavrin-outage-subscriber";

struct Options {
    int lines = 8;
    int tags = 300;
    int changeEveryMs = 1000;
    int warmupS = 20;
    int outageS = 120;
    int restartAtS = 60;
    int forwardRate = 2000; // the gateway's default
};

QElapsedTimer monotonic;
double nowS() { return double(monotonic.nsecsElapsed()) / 1e9; }

// One tag's values as set in PLC memory, and its messages as received.
struct Set {
    int value;
    double atS;    // monotonic
    qint64 wallMs; // the clock the gateway's ts comes from
};
struct Received {
    bool history;
    int value;
    qint64 tsMs;
    double atS;
};
struct Tag {
    QString topic; // LINE/TAG
    int line;
    bool relay;
    int address;
    std::vector<Set> sets;
    std::vector<Received> received;
};

class Plant {
public:
    explicit Plant(const Options& options)
    {
        for (int l = 0; l < options.lines; ++l) {
            for (int t = 0; t < options.tags; ++t) {
                const bool relay = t >= options.tags - RelaysPerLine;
                const int address = relay ? t - (options.tags - RelaysPerLine) : t;
                const QString topic = QStringLiteral("line%1/%2%3").arg(l).arg(relay ? 'm' : 'd').arg(address);
                index_.insert(topic, int(tags_.size()));
                tags_.push_back(Tag{topic, l, relay, address, {}, {}});
            }
        }
    }
    size_t size() const { return tags_.size(); }
    const Tag& tag(size_t i) const { return tags_[i]; }

    // The next value of tag i, set in its PLC.
    void change(size_t i, VirtualPlc& plc)
    {
        QMutexLocker lock(&mutex_);
        Tag& tag = tags_[i];
        const int n = int(tag.sets.size()) + 1;
        const int value = tag.relay ? n % 2 : n % 30000;
        tag.sets.push_back(Set{value, nowS(), QDateTime::currentMSecsSinceEpoch()});
        plc.setValue(tag.relay ? QStringLiteral("M") : QStringLiteral("D"), tag.address, quint32(value));
    }
    void received(const QByteArray& topic, const QByteArray& payload, double atS)
    {
        // bench/LINE/TAG or bench/LINE/TAG/history
        QByteArray name = topic.mid(6);
        const bool history = name.endsWith("/history");
        if (history)
            name.chop(8);
        const QJsonObject object = QJsonDocument::fromJson(payload).object();
        QMutexLocker lock(&mutex_);
        lastMessageS_ = atS;
        if (history)
            ++historyMessages_;
        const auto it = index_.find(QString::fromUtf8(name));
        if (it == index_.end() || object.value(QStringLiteral("quality")).toString() != QLatin1String("good"))
            return;
        const QJsonValue value = object.value(QStringLiteral("value"));
        const qint64 ts = QDateTime::fromString(object.value(QStringLiteral("ts")).toString(), Qt::ISODateWithMs)
                              .toMSecsSinceEpoch();
        Tag& tag = tags_[size_t(it.value())];
        if (tag.received.empty())
            ++good_;
        tag.received.push_back(Received{history, value.isBool() ? int(value.toBool()) : value.toInt(), ts, atS});
    }
    int goodTags() const
    {
        QMutexLocker lock(&mutex_);
        return good_;
    }
    double lastMessageS() const
    {
        QMutexLocker lock(&mutex_);
        return lastMessageS_;
    }
    qint64 historyMessages() const
    {
        QMutexLocker lock(&mutex_);
        return historyMessages_;
    }
    // The analysis runs once the changes and the messages stopped.
    std::vector<Tag>& tags() { return tags_; }

private:
    mutable QMutex mutex_;
    std::vector<Tag> tags_;
    QHash<QString, int> index_;
    int good_ = 0;
    double lastMessageS_ = 0;
    qint64 historyMessages_ = 0;
};

void onMessage(mosquitto*, void* plant, const mosquitto_message* message)
{
    const double at = nowS();
    static_cast<Plant*>(plant)->received(QByteArray(message->topic),
                                         QByteArray(static_cast<const char*>(message->payload), message->payloadlen), at);
}

// Subscribed once: the broker keeps the session, and a subscription made
// again would replay the retained values.
void onConnect(mosquitto* client, void*, int code, int flags)
{
    const bool sessionPresent = flags & 1;
    if (code == 0 && !sessionPresent) {
        const char* topics[] = {"bench/+/+", "bench/+/+/history"};
        mosquitto_subscribe_multiple(client, nullptr, 2, const_cast<char* const*>(topics), 1, 0, nullptr);
    }
}

// A process's CPU time so far (user + system), in seconds.
double residentMb(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The machine's busy and total jiffies, from /proc/stat.
std::pair<double, double> machineJiffies()
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    double total = 0;
    for (int i = 1; i < fields.size(); ++i)
        total += fields[i].toDouble();
    const double idle = fields.value(4).toDouble() + fields.value(5).toDouble();
    return {total - idle, total};
}

// The gateway's backlog from its /metrics; -1 when it does not answer.
double backlog(quint16 httpPort)
{
    for (const QByteArray& line : metricsText(httpPort).split('\n')) {
        if (line.startsWith("tavrin_gateway_mqtt_backlog_messages "))
            return line.mid(line.indexOf(' ') + 1).toDouble();
    }
    return -1;
}

// CPU and memory over one phase of the run, sampled from /proc.
struct Phase {
    explicit Phase(const char* phaseName) : name(phaseName) {}
    const char* name;
    double fromS = 0;
    double toS = 0;
    double gatewayCpu = 0;
    double brokerCpu = 0;
    double machineBusy = 0;
    double machineTotal = 0;
    double peakMb = 0;
    QByteArray loadEnd;
};

class Sampler {
public:
    void begin(Phase* phase, qint64 gateway, qint64 broker)
    {
        phase_ = phase;
        phase_->fromS = nowS();
        gateway_ = gateway;
        broker_ = broker;
        gatewayCpu_ = cpuSeconds(gateway);
        brokerCpu_ = broker > 0 ? cpuSeconds(broker) : 0;
        machine_ = machineJiffies();
    }
    // A sample; a gateway or broker that changed process starts counting anew.
    void sample(qint64 gateway, qint64 broker)
    {
        const double g = gateway > 0 ? cpuSeconds(gateway) : 0;
        const double b = broker > 0 ? cpuSeconds(broker) : 0;
        if (gateway == gateway_)
            phase_->gatewayCpu += g - gatewayCpu_;
        if (broker == broker_)
            phase_->brokerCpu += b - brokerCpu_;
        gateway_ = gateway;
        broker_ = broker;
        gatewayCpu_ = g;
        brokerCpu_ = b;
        const auto machine = machineJiffies();
        phase_->machineBusy += machine.first - machine_.first;
        phase_->machineTotal += machine.second - machine_.second;
        machine_ = machine;
        if (gateway > 0)
            phase_->peakMb = std::max(phase_->peakMb, residentMb(gateway));
        phase_->toS = nowS();
        phase_->loadEnd = loadAverage();
    }

private:
    Phase* phase_ = nullptr;
    qint64 gateway_ = 0;
    qint64 broker_ = 0;
    double gatewayCpu_ = 0;
    double brokerCpu_ = 0;
    std::pair<double, double> machine_;
};

QString configText(const Options& options, quint16 brokerPort, quint16 httpPort, const std::vector<quint16>& plcPorts,
                   const QString& historyPath)
{
    QString text = QStringLiteral("mqtt:\n  url: mqtt://127.0.0.1:%1\n  prefix: bench\n  client_id: tavrin-outage\n  qos: 1\n")
                       .arg(brokerPort);
    text += QStringLiteral("  forward_rate: %1\n").arg(options.forwardRate);
    text += QStringLiteral("http:\n  listen: 127.0.0.1:%1\nhistory:\n  path: %2\nlines:\n").arg(httpPort).arg(historyPath);
    // No timeout_ms: the lines follow the PLCs' pace, which a loaded machine
    // stretches; a fixed one takes lines offline, and changes come and go unread.
    for (int l = 0; l < options.lines; ++l) {
        text += QStringLiteral("  - name: line%1\n    port: tcp:127.0.0.1:%2\n    baud: 115200\n    tags:\n")
                    .arg(l)
                    .arg(plcPorts.at(size_t(l)));
        for (int t = 0; t < options.tags - RelaysPerLine; ++t)
            text += QStringLiteral("      - { name: d%1, address: D%1 }\n").arg(t);
        for (int t = 0; t < RelaysPerLine; ++t)
            text += QStringLiteral("      - { name: m%1, address: M%1 }\n").arg(t);
    }
    return text;
}

bool parseOptions(const QStringList& arguments, Options* options)
{
    if (!parseNumberOptions(arguments, {{"lines", &options->lines},
                                        {"tags", &options->tags},
                                        {"change-every-ms", &options->changeEveryMs},
                                        {"warmup-s", &options->warmupS},
                                        {"outage-s", &options->outageS},
                                        {"restart-at-s", &options->restartAtS},
                                        {"forward-rate", &options->forwardRate}}))
        return false;
    return options->lines > 0 && options->tags > RelaysPerLine && options->tags - RelaysPerLine <= 8000
           && options->changeEveryMs >= 100 && options->warmupS >= 5 && options->outageS > 0
           && options->restartAtS > 0 && options->restartAtS < options->outageS && options->forwardRate >= 1
           && options->forwardRate <= 100000;
}

// What the run found, from the sets and the messages.
struct Findings {
    qint64 outageChanges = 0;     // set while the broker was away
    qint64 outageOnHistory = 0;   // of them, received on .../history
    qint64 missing = 0;           // set at any time, received on neither topic
    double missingFromS = 1e9;    // their set times, relative to the kill
    double missingToS = -1e9;
    qint64 duplicates = 0;        // a history message with the ts of one received before
    qint64 again = 0;             // a value on history again with a later ts: read anew by the restarted gateway
    qint64 outOfOrder = 0;        // a history message older than the one before it
    qint64 wrongValue = 0;        // a message whose value is not the one set about its ts
    qint64 tsLateMaxMs = 0;       // a history message's ts after its value was set
    std::vector<double> liveBeforeMs; // live delays, before the outage and while forwarding
    std::vector<double> liveForwardingMs;
    QByteArray missingList;       // line/tag value wall-ms, one a line
    std::vector<std::pair<size_t, size_t>> missingSets; // tag, set
};

// The set a message stands for: the last one set at or before its ts, or a
// neighbour when a set fell between the PLC's answer and the gateway's time.
int setAt(const std::vector<Set>& sets, const Received& message)
{
    const auto it = std::upper_bound(sets.begin(), sets.end(), message.tsMs,
                                     [](qint64 ts, const Set& set) { return ts < set.wallMs; });
    const int i = int(it - sets.begin()) - 1;
    if (i >= 0 && sets[size_t(i)].value == message.value)
        return i;
    const size_t next = size_t(i + 1);
    if (next < sets.size() && sets[next].value == message.value && sets[next].wallMs - message.tsMs < 300)
        return int(next);
    // Or the one before, when the answer was decoded just after the next set.
    if (i >= 1 && sets[size_t(i - 1)].value == message.value && message.tsMs - sets[size_t(i)].wallMs < 300)
        return i - 1;
    return i < 0 ? -1 : -2;
}

Findings analyse(std::vector<Tag>& tags, double outageFromS, double outageToS, double killS, double forwardedS)
{
    Findings f;
    for (Tag& tag : tags) {
        std::vector<int> seen(tag.sets.size(), 0);
        std::vector<qint64> historyTs(tag.sets.size(), -1);
        qint64 lastHistoryTs = -1;
        for (const Received& message : tag.received) {
            const int i = setAt(tag.sets, message);
            if (i == -1)
                continue; // the value before the changes began
            if (i == -2) {
                ++f.wrongValue;
                continue;
            }
            const Set& set = tag.sets[size_t(i)];
            ++seen[size_t(i)];
            if (!message.history) {
                const double delay = (message.atS - set.atS) * 1000.0;
                if (message.atS < outageFromS)
                    f.liveBeforeMs.push_back(delay);
                else if (message.atS > outageToS && message.atS <= forwardedS)
                    f.liveForwardingMs.push_back(delay);
                continue;
            }
            qint64& ts = historyTs[size_t(i)];
            if (ts == message.tsMs)
                ++f.duplicates;
            else if (ts >= 0)
                ++f.again;
            else if (set.atS >= outageFromS && set.atS < outageToS)
                ++f.outageOnHistory;
            if (ts < 0)
                ts = message.tsMs;
            if (message.tsMs < lastHistoryTs)
                ++f.outOfOrder;
            lastHistoryTs = std::max(lastHistoryTs, message.tsMs);
            f.tsLateMaxMs = std::max(f.tsLateMaxMs, message.tsMs - set.wallMs);
        }
        // The last set may not have been read yet when the changes stopped.
        for (size_t i = 0; i + 1 < tag.sets.size(); ++i) {
            const Set& set = tag.sets[i];
            if (set.atS >= outageFromS && set.atS < outageToS)
                ++f.outageChanges;
            if (seen[i] == 0) {
                ++f.missing;
                f.missingFromS = std::min(f.missingFromS, set.atS - killS);
                f.missingToS = std::max(f.missingToS, set.atS - killS);
                f.missingSets.emplace_back(size_t(&tag - tags.data()), i);
                f.missingList += tag.topic.toUtf8() + ' ' + QByteArray::number(set.value) + ' '
                                 + QByteArray::number(set.wallMs) + '\n';
            }
        }
    }
    return f;
}

// Of the missing changes, those the gateway had stored: lost by the
// forwarding, where the others were never read from the PLC.
int missingStored(const QString& historyPath, const std::vector<Tag>& tags, const Findings& f)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(historyPath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return -1;
    }
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM changes c JOIN series s ON s.id = c.series "
                           "WHERE s.line = ? AND s.tag = ? AND c.ts BETWEEN ? AND ? AND c.num = ?", -1, &query, nullptr);
    int stored = 0;
    for (const auto& [t, i] : f.missingSets) {
        const Tag& tag = tags[t];
        const Set& set = tag.sets[i];
        const QByteArray line = tag.topic.section(QLatin1Char('/'), 0, 0).toUtf8();
        const QByteArray name = tag.topic.section(QLatin1Char('/'), 1).toUtf8();
        sqlite3_reset(query);
        sqlite3_bind_text(query, 1, line.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(query, 2, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(query, 3, set.wallMs - 300);
        sqlite3_bind_int64(query, 4, tag.sets[i + 1].wallMs);
        sqlite3_bind_double(query, 5, set.value);
        if (sqlite3_step(query) == SQLITE_ROW && sqlite3_column_int(query, 0) > 0)
            ++stored;
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return stored;
}

// Lines that stopped answering for a while: their changes meanwhile are never read.
int linesOffline(const QString& logPath)
{
    QFile log(logPath);
    return log.open(QIODevice::ReadOnly) ? int(log.readAll().count("offline: PLC not answering")) : -1;
}

// The retained value of every tag, from a new session, against the newest set.
int wrongRetained(quint16 brokerPort, Plant& plant)
{
    struct Retained {
        QMutex mutex;
        QHash<QString, int> values;
    } retained;
    mosquitto* client = mosquitto_new(nullptr, true, &retained);
    mosquitto_message_callback_set(client, [](mosquitto*, void* data, const mosquitto_message* message) {
        auto* r = static_cast<Retained*>(data);
        const QJsonValue value = QJsonDocument::fromJson(QByteArray(static_cast<const char*>(message->payload),
                                                                    message->payloadlen))
                                     .object()
                                     .value(QStringLiteral("value"));
        QMutexLocker lock(&r->mutex);
        r->values.insert(QString::fromUtf8(message->topic).mid(6), value.isBool() ? int(value.toBool()) : value.toInt());
    });
    if (mosquitto_connect(client, "127.0.0.1", brokerPort, 30) != MOSQ_ERR_SUCCESS)
        return -1;
    mosquitto_subscribe(client, nullptr, "bench/+/+", 1);
    mosquitto_loop_start(client);
    QThread::msleep(3000);
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    int wrong = 0;
    QMutexLocker lock(&retained.mutex);
    for (const Tag& tag : plant.tags()) {
        const auto it = retained.values.find(tag.topic);
        if (it == retained.values.end() || tag.sets.empty() || it.value() != tag.sets.back().value)
            ++wrong;
    }
    return wrong;
}

void printPhase(const Phase& phase)
{
    const double seconds = std::max(0.001, phase.toS - phase.fromS);
    std::printf("  %-11s %6.1f s  gateway CPU %5.1f %%  broker CPU %5.1f %%  gateway peak RSS %5.1f MB  "
                "machine busy %5.1f %% of %d cores  load %s\n",
                phase.name, seconds, 100.0 * phase.gatewayCpu / seconds, 100.0 * phase.brokerCpu / seconds,
                phase.peakMb, phase.machineTotal > 0 ? 100.0 * phase.machineBusy / phase.machineTotal : 0.0,
                int(QThread::idealThreadCount()), phase.loadEnd.constData());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), &options)) {
        std::fprintf(stderr, "usage: tavrin_gateway_outage [--lines N] [--tags N>50] [--change-every-ms N>=100] "
                             "[--warmup-s N>=5] [--outage-s N] [--restart-at-s N<OUTAGE] [--forward-rate N]\n");
        return 1;
    }
    monotonic.start();
    const QByteArray loadBefore = loadAverage();
    QTemporaryDir dir;
    // For a look at the history file and the logs afterwards.
    const bool keep = qEnvironmentVariableIsSet("TAVRIN_BENCH_KEEP_DIR");
    dir.setAutoRemove(!keep);
    const quint16 brokerPort = freePort();
    Broker broker(dir, brokerPort, true);
    if (!broker.start()) {
        std::fprintf(stderr, "cannot start mosquitto\n");
        return 1;
    }

    ServerOptions pacing;
    pacing.pacing.baudRate = 115200;
    pacing.pacing.responseDelayUs = 5000;
    const ServedPlcs served(options.lines, pacing);
    const QString historyPath = dir.filePath(QStringLiteral("history.db"));
    const quint16 httpPort = freePort();
    const QString config = writeFile(dir, QStringLiteral("gateway.yaml"),
                                     configText(options, brokerPort, httpPort, served.ports(), historyPath));

    Plant plant(options);
    mosquitto_lib_init();
    mosquitto* client = mosquitto_new(SubscriberId, false, &plant);
    mosquitto_message_callback_set(client, onMessage);
    mosquitto_connect_with_flags_callback_set(client, onConnect);
    mosquitto_reconnect_delay_set(client, 1, 1, false);
    if (mosquitto_connect(client, "127.0.0.1", brokerPort, 30) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "cannot connect to the broker\n");
        return 1;
    }
    mosquitto_loop_start(client);

    QProcess gateway;
    const QString gatewayLog = dir.filePath(QStringLiteral("gateway.log"));
    gateway.setStandardOutputFile(gatewayLog, QIODevice::Append);
    gateway.setStandardErrorFile(gatewayLog, QIODevice::Append);
    const auto startGateway = [&] {
        gateway.start(QStringLiteral(TAVRIN_TOOL_PATH), {QStringLiteral("gateway"), config});
        return gateway.waitForStarted() ? gateway.processId() : qint64(0);
    };
    const auto failed = [&](const char* what) {
        QFile log(gatewayLog);
        log.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "%s\n--- gateway log (tail)\n%s\n", what, log.readAll().right(4000).constData());
        gateway.kill();
        gateway.waitForFinished();
        return 1;
    };
    qint64 gatewayPid = startGateway();
    const size_t allTags = plant.size();
    const double startS = nowS();
    while (size_t(plant.goodTags()) < allTags && nowS() - startS < 120)
        QThread::msleep(50);
    if (size_t(plant.goodTags()) < allTags)
        return failed("not every tag arrived good");

    // Every tag changes every changeEveryMs, spread over ten steps.
    std::atomic<bool> changing{true};
    std::thread changer([&] {
        const size_t steps = 10;
        const double stepS = options.changeEveryMs / 1000.0 / double(steps);
        const double firstS = nowS();
        for (size_t n = 0; changing; ++n) {
            for (size_t i = n % steps; i < allTags; i += steps)
                plant.change(i, *served.plcs.at(size_t(plant.tag(i).line)));
            const double nextS = firstS + double(n + 1) * stepS;
            const double waitS = nextS - nowS();
            if (waitS > 0)
                QThread::usleep(static_cast<unsigned long>(waitS * 1e6));
        }
    });

    Sampler sampler;
    Phase phases[] = {Phase("before"), Phase("outage"), Phase("forwarding")};
    const auto runUntil = [&](double untilS) {
        while (nowS() < untilS) {
            QThread::msleep(500);
            sampler.sample(gatewayPid, broker.pid());
        }
    };
    sampler.begin(&phases[0], gatewayPid, broker.pid());
    runUntil(nowS() + options.warmupS);

    const double outageFromS = nowS();
    broker.stop();
    sampler.begin(&phases[1], gatewayPid, 0);
    runUntil(outageFromS + options.restartAtS);
    const double killS = nowS();
    gateway.kill(); // SIGKILL
    gateway.waitForFinished();
    gatewayPid = startGateway();
    runUntil(outageFromS + options.outageS);
    const double outageToS = nowS();
    if (!broker.start())
        return failed("cannot start mosquitto again");
    sampler.begin(&phases[2], gatewayPid, broker.pid());

    // Until the gateway reports no backlog and the history messages stopped.
    const qint64 historyBefore = plant.historyMessages();
    const double changesPerS = double(allTags) * 1000.0 / options.changeEveryMs;
    const int rate = options.forwardRate;
    const double limitS = 60 + 2.0 * changesPerS * options.outageS / rate;
    double reconnectedS = -1;
    double forwardedS = -1;
    double peakBacklog = 0;
    while (nowS() - outageToS < limitS) {
        QThread::msleep(500);
        sampler.sample(gatewayPid, broker.pid());
        if (reconnectedS < 0 && plant.lastMessageS() > outageToS)
            reconnectedS = plant.lastMessageS();
        const double left = backlog(httpPort);
        peakBacklog = std::max(peakBacklog, left);
        if (reconnectedS > 0 && left == 0) {
            forwardedS = nowS();
            break;
        }
    }
    if (forwardedS < 0)
        return failed("the backlog was not forwarded in time");
    const qint64 forwardedMessages = plant.historyMessages() - historyBefore;
    QThread::msleep(2000);
    changing = false;
    changer.join();
    QThread::msleep(2000); // the last changes' poll pass and messages
    const int wrong = wrongRetained(brokerPort, plant);
    const qint64 fileBytes = QFileInfo(historyPath).size() + QFileInfo(historyPath + QStringLiteral("-wal")).size();
    const double fileAtS = nowS();

    gateway.terminate();
    gateway.waitForFinished(30000);
    mosquitto_disconnect(client);
    mosquitto_loop_stop(client, false);
    mosquitto_destroy(client);
    mosquitto_lib_cleanup();
    broker.stop();

    const Findings f = analyse(plant.tags(), outageFromS, outageToS, killS, forwardedS);
    const int stored = missingStored(historyPath, plant.tags(), f);
    const int offline = linesOffline(gatewayLog);
    std::printf("Store-and-forward: %zu tags (%d lines x %d) each changing every %d ms (%.0f changes a second), "
                "forward_rate %d\n",
                allTags, options.lines, options.tags, options.changeEveryMs, changesPerS, rate);
    std::printf("  outage        broker away %.1f s; gateway killed (SIGKILL) and restarted %.1f s into it\n",
                outageToS - outageFromS, killS - outageFromS);
    std::printf("  reconnected   %.1f s after the broker was back (the gateway's reconnect back-off)\n",
                reconnectedS - outageToS);
    std::printf("  forwarded     backlog 0 %.1f s after the broker was back (%.1f s after reconnecting); peak "
                "backlog %.0f; %lld history messages, %.0f a second\n",
                forwardedS - outageToS, forwardedS - reconnectedS, peakBacklog,
                static_cast<long long>(forwardedMessages), double(forwardedMessages) / (forwardedS - reconnectedS));
    std::printf("  outage        %lld changes set, %lld received on history\n",
                static_cast<long long>(f.outageChanges), static_cast<long long>(f.outageOnHistory));
    std::printf("  missing       %lld of all changes", static_cast<long long>(f.missing));
    if (f.missing > 0)
        std::printf(", set %.2f s to %.2f s after the kill; %d of them in the history file (lost by forwarding); "
                    "a line stopped answering %d times (changes meanwhile unread)",
                    f.missingFromS, f.missingToS, stored, offline);
    std::printf("\n  history       %lld duplicated, %lld again after the restart, %lld out of order, %lld with a wrong value; ts at most %lld ms "
                "after the value was set\n",
                static_cast<long long>(f.duplicates), static_cast<long long>(f.again), static_cast<long long>(f.outOfOrder),
                static_cast<long long>(f.wrongValue), static_cast<long long>(f.tsLateMaxMs));
    std::printf("  retained      %d of %zu tags not the newest value\n", wrong, allTags);
    std::printf("  live delay    before the outage: p50 %.1f  p95 %.1f ms (%zu); while forwarding: p50 %.1f  p95 "
                "%.1f  max %.1f ms (%zu)\n",
                percentile(f.liveBeforeMs, 0.5), percentile(f.liveBeforeMs, 0.95), f.liveBeforeMs.size(),
                percentile(f.liveForwardingMs, 0.5), percentile(f.liveForwardingMs, 0.95),
                percentile(f.liveForwardingMs, 1), f.liveForwardingMs.size());
    for (const Phase& phase : phases)
        printPhase(phase);
    std::printf("  history file  %.1f MB (database and WAL) after %.0f s\n", double(fileBytes) / 1e6, fileAtS - startS);
    std::printf("  machine load  %s before\n", loadBefore.constData());
    if (keep) {
        QFile missing(dir.filePath(QStringLiteral("missing.txt")));
        if (missing.open(QIODevice::WriteOnly))
            missing.write(f.missingList);
        std::printf("  kept          %s (missing.txt: the missing changes)\n", qPrintable(dir.path()));
    }
    // Missing by design: what the killed gateway had queued, what changed
    // while no gateway ran and while a line did not answer: never stored.
    return stored == 0 && wrong == 0 && f.outOfOrder == 0 && f.wrongValue == 0 ? 0 : 2;
}
