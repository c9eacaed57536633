// The built gateway as a Sparkplug B edge node against a real mosquitto
// broker and the virtual PLC, every payload decoded by an independent
// implementation (npm's sparkplug-payload): births equal to the file and PLC
// memory, changes by alias, DCMD writes landing byte-exact, a silent PLC's
// DDEATH and DBIRTH, rebirth, the will on a kill, a primary host's STATE and
// the history kept while it was away (in the history store, across a gateway
// killed during the outage), and seq never skipping.

#include "sparkplug_host.h"

#include "history_store.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <csignal>

namespace {

// One row per tag format: the metric the host sees, and the PLC memory behind it.
struct MetricRow {
    const char* name;
    const char* type;
    double value;
};
const MetricRow kMetrics[] = {
    {"running", "Boolean", 1},       {"speed", "Int16", -2},          {"count", "UInt16", 40000},
    {"total", "Int32", -100000},     {"big", "UInt32", 3000000000.0}, {"setpoint", "Float", 2.5},
    {"code", "UInt16", 255},         {"recipe/0", "Int16", 7},        {"recipe/1", "Int16", 8},
};

const char* const kTags = "    tags:\n"
                          "      - { name: running, address: M0 }\n"
                          "      - { name: speed, address: D0, writable: true }\n"
                          "      - { name: count, address: D1, format: uint16 }\n"
                          "      - { name: total, address: D2, format: int32 }\n"
                          "      - { name: big, address: D4, format: uint32 }\n"
                          "      - { name: setpoint, address: D6, format: float, writable: true }\n"
                          "      - { name: code, address: D8, format: hex }\n"
                          "      - { name: recipe, address: D10, count: 2, writable: true }\n";

QString type(const QJsonObject& message)
{
    return message.value(QStringLiteral("type")).toString();
}

class SparkplugEdgeNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!sparkplugToolsInstalled())
            GTEST_FAIL() << "no npm sparkplug-payload in " << sparkplugTools().toStdString()
                         << ": run scripts/ensure-sparkplug-tools.sh";
        ASSERT_TRUE(broker.start());
        ASSERT_TRUE(host.start(broker.port));
        const std::pair<int, quint32> words[] = {{0, 0xFFFE}, {1, 40000}, {2, 0x7960}, {3, 0xFFFE}, {4, 0x5E00},
                                                 {5, 0xB2D0}, {6, 0},     {7, 0x4020}, {8, 0x00FF}, {10, 7}, {11, 8}};
        for (const auto& [index, value] : words)
            plc.plc.setValue(QStringLiteral("D"), index, value);
        plc.plc.setValue(QStringLiteral("M"), 0, 1);
    }

    void startGateway(const QString& mqttExtra, const QString& sparkplugExtra, const QString& more = QString())
    {
        config = writeConfig(dir, QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", client_id: spb%2}\n"
                                                 "sparkplug: {group_id: plant1, edge_node_id: gw1%3}\n%4"
                                                 "lines:\n  - name: press\n    port: %5\n    baud: 115200\n")
                                      .arg(broker.port)
                                      .arg(mqttExtra, sparkplugExtra, more, plc.port())
                                 + QLatin1String(kTags));
        gateway.start(config);
    }

    // The primary host's STATE, retained.
    bool state(bool online, qint64 timestamp)
    {
        return publish(broker.port, QStringLiteral("spBv1.0/STATE/scada"),
                       QStringLiteral("{\"online\":%1,\"timestamp\":%2}").arg(QLatin1String(online ? "true" : "false")).arg(timestamp).toUtf8(),
                       true);
    }

    // The press's metrics as a host knows them: its latest DBIRTH, then DDATA by alias.
    QHash<QString, QJsonValue> pressValues()
    {
        host.take();
        QHash<quint64, QString> names;
        QHash<QString, QJsonValue> values;
        for (const QJsonObject& message : host.messages) {
            const bool birth = type(message) == QLatin1String("DBIRTH");
            if (!birth && type(message) != QLatin1String("DDATA"))
                continue;
            for (const QJsonValue& m : message.value(QStringLiteral("metrics")).toArray()) {
                const QJsonObject metric = m.toObject();
                const quint64 alias = quint64(metric.value(QStringLiteral("alias")).toDouble());
                if (birth)
                    names.insert(alias, metric.value(QStringLiteral("name")).toString());
                if (!metric.value(QStringLiteral("historical")).toBool())
                    values.insert(names.value(alias), metric.value(QStringLiteral("value")));
            }
        }
        return values;
    }

    bool pressShows(const QString& name, double value)
    {
        return waitUntil([&] {
            const QJsonValue shown = pressValues().value(name);
            return shown.isBool() ? double(shown.toBool()) == value : shown == QJsonValue(value);
        }, 30000);
    }

    quint64 aliasOf(const QJsonObject& birth, const QString& name)
    {
        return quint64(metricNamed(birth, name).value(QStringLiteral("alias")).toDouble());
    }

    // The historical metrics that follow the DBIRTH at `dbirth` before live
    // data resumes, oldest first, as "name=value", a value repeated once.
    QStringList historyAfter(int dbirth)
    {
        host.take();
        QHash<quint64, QString> names;
        for (const QJsonValue& m : host.messages.at(dbirth).value(QStringLiteral("metrics")).toArray())
            names.insert(quint64(m.toObject().value(QStringLiteral("alias")).toDouble()), m.toObject().value(QStringLiteral("name")).toString());
        QStringList history;
        double last = 0;
        for (int i = dbirth + 1; i < host.messages.size() && type(host.messages.at(i)) == QLatin1String("DDATA"); ++i) {
            const QJsonArray metrics = host.messages.at(i).value(QStringLiteral("metrics")).toArray();
            if (!metrics.at(0).toObject().value(QStringLiteral("historical")).toBool())
                break;
            for (const QJsonValue& m : metrics) {
                const QJsonObject metric = m.toObject();
                EXPECT_TRUE(metric.value(QStringLiteral("historical")).toBool());
                EXPECT_GE(metric.value(QStringLiteral("timestamp")).toDouble(), last);
                last = metric.value(QStringLiteral("timestamp")).toDouble();
                const QString shown = names.value(quint64(metric.value(QStringLiteral("alias")).toDouble())) + QLatin1Char('=')
                    + QString::number(metric.value(QStringLiteral("value")).toDouble());
                if (history.isEmpty() || history.last() != shown)
                    history.append(shown);
            }
        }
        return history;
    }

    QJsonObject dcmd(const QJsonArray& metrics)
    {
        return QJsonObject{{QStringLiteral("timestamp"), 1}, {QStringLiteral("metrics"), metrics}};
    }

    QTemporaryDir dir;
    QString config;
    Broker broker;
    SparkplugHost host;
    ServedPlc plc{ServedOn::Tcp, VirtualPlcOptions()};
    GatewayProcess gateway;
};

TEST_F(SparkplugEdgeNode, LivesItsWholeLifeCycleAsTheStandardSays)
{
    startGateway(QStringLiteral(", json: false"), QString());
    const int nbirth = host.waitForType(QStringLiteral("NBIRTH"));
    ASSERT_GE(nbirth, 0) << gateway.log().toStdString();
    const QJsonObject node = host.messages.at(nbirth);
    EXPECT_EQ(node.value(QStringLiteral("seq")), 0);
    const QJsonObject bdSeq = metricNamed(node, QStringLiteral("bdSeq"));
    EXPECT_EQ(bdSeq.value(QStringLiteral("type")), QStringLiteral("Int64"));
    EXPECT_EQ(bdSeq.value(QStringLiteral("value")), 0);
    EXPECT_EQ(metricNamed(node, QStringLiteral("Node Control/Rebirth")).value(QStringLiteral("value")), false);

    const int dbirth = host.waitForType(QStringLiteral("DBIRTH"), nbirth);
    ASSERT_GE(dbirth, 0);
    const QJsonObject birth = host.messages.at(dbirth);
    EXPECT_EQ(birth.value(QStringLiteral("device")), QStringLiteral("press"));
    QSet<quint64> aliases;
    for (const MetricRow& row : kMetrics) {
        const QJsonObject metric = metricNamed(birth, QLatin1String(row.name));
        EXPECT_EQ(metric.value(QStringLiteral("type")), QLatin1String(row.type)) << row.name;
        aliases.insert(aliasOf(birth, QLatin1String(row.name)));
        EXPECT_TRUE(pressShows(QLatin1String(row.name), row.value)) << row.name;
    }
    EXPECT_EQ(aliases.size(), int(std::size(kMetrics)));

    // A change in PLC memory: DDATA by alias only.
    const int from = host.messages.size();
    plc.plc.setValue(QStringLiteral("D"), 1, 41000);
    const int ddata = host.waitFor([&](const QJsonObject& m) {
        return type(m) == QLatin1String("DDATA") && !m.value(QStringLiteral("metrics")).toArray().isEmpty()
            && m.value(QStringLiteral("metrics")).toArray().at(0).toObject().value(QStringLiteral("value")) == 41000;
    }, from);
    ASSERT_GE(ddata, 0);
    const QJsonObject changed = host.messages.at(ddata).value(QStringLiteral("metrics")).toArray().at(0).toObject();
    EXPECT_EQ(quint64(changed.value(QStringLiteral("alias")).toDouble()), aliasOf(birth, QStringLiteral("count")));
    EXPECT_FALSE(changed.contains(QStringLiteral("name")));

    // DCMD by name and by alias; the read-only one is refused.
    const QJsonArray writes{
        QJsonObject{{QStringLiteral("name"), QStringLiteral("setpoint")}, {QStringLiteral("type"), QStringLiteral("Float")}, {QStringLiteral("value"), 12.5}},
        QJsonObject{{QStringLiteral("alias"), double(aliasOf(birth, QStringLiteral("speed")))}, {QStringLiteral("type"), QStringLiteral("Int16")}, {QStringLiteral("value"), -300}},
        QJsonObject{{QStringLiteral("name"), QStringLiteral("recipe/1")}, {QStringLiteral("type"), QStringLiteral("Int16")}, {QStringLiteral("value"), 99}},
        QJsonObject{{QStringLiteral("name"), QStringLiteral("running")}, {QStringLiteral("type"), QStringLiteral("Boolean")}, {QStringLiteral("value"), false}},
    };
    ASSERT_TRUE(publishSparkplug(broker.port, QStringLiteral("spBv1.0/plant1/DCMD/gw1/press"), dcmd(writes), dir));
    EXPECT_TRUE(waitUntil([&] { return plc.plc.value(QStringLiteral("D"), 7) == 0x4148u; }, 30000));
    EXPECT_TRUE(waitUntil([&] { return plc.plc.value(QStringLiteral("D"), 0) == 0xFED4u; }, 30000));
    EXPECT_TRUE(waitUntil([&] { return plc.plc.value(QStringLiteral("D"), 11) == 99u; }, 30000));
    EXPECT_EQ(plc.plc.value(QStringLiteral("D"), 6), 0u);
    EXPECT_EQ(plc.plc.value(QStringLiteral("D"), 10), 7u);
    EXPECT_EQ(plc.plc.value(QStringLiteral("M"), 0), 1u);
    EXPECT_TRUE(pressShows(QStringLiteral("setpoint"), 12.5));
    EXPECT_TRUE(pressShows(QStringLiteral("speed"), -300));
    EXPECT_TRUE(waitUntil([&] { return gateway.log().contains(QStringLiteral("running is read-only")); }, 10000));

    // Rebirth: the same bdSeq, seq from 0 again, every device born again.
    int at = host.messages.size();
    ASSERT_TRUE(publishSparkplug(broker.port, QStringLiteral("spBv1.0/plant1/NCMD/gw1"),
                                 dcmd({QJsonObject{{QStringLiteral("name"), QStringLiteral("Node Control/Rebirth")},
                                                   {QStringLiteral("type"), QStringLiteral("Boolean")}, {QStringLiteral("value"), true}}}),
                                 dir));
    at = host.waitForType(QStringLiteral("NBIRTH"), at);
    ASSERT_GE(at, 0);
    EXPECT_EQ(metricNamed(host.messages.at(at), QStringLiteral("bdSeq")).value(QStringLiteral("value")), 0);
    EXPECT_GE(host.waitForType(QStringLiteral("DBIRTH"), at), 0);

    // A PLC that stops answering, and comes back.
    plc.plc.freeze(VirtualPlc::Freeze::Swallow);
    at = host.waitForType(QStringLiteral("DDEATH"), at);
    EXPECT_GE(at, 0);
    plc.plc.freeze(VirtualPlc::Freeze::None);
    at = host.waitForType(QStringLiteral("DBIRTH"), at);
    EXPECT_GE(at, 0);

    // A killed gateway: the broker says its will.
    ::kill(pid_t(gateway.process.processId()), SIGKILL);
    at = host.waitForType(QStringLiteral("NDEATH"), at);
    ASSERT_GE(at, 0);
    EXPECT_EQ(metricNamed(host.messages.at(at), QStringLiteral("bdSeq")).value(QStringLiteral("value")), 0);

    // seq: 0 on every NBIRTH, one more on every other message that has one.
    int expected = 0;
    for (const QJsonObject& message : host.messages) {
        if (type(message) == QLatin1String("NDEATH") || type(message).endsWith(QLatin1String("CMD")))
            continue; // no seq in the will; commands are the host's
        if (type(message) == QLatin1String("NBIRTH"))
            expected = 0;
        EXPECT_EQ(message.value(QStringLiteral("seq")), expected) << QJsonDocument(message).toJson().toStdString();
        expected = (expected + 1) % 256;
    }
}

// With a primary host: births only once its STATE says online; while it is
// offline the changes are kept and come after the DBIRTH as history, oldest
// first, before live data; a host going offline ends the session.
TEST_F(SparkplugEdgeNode, WaitsForItsPrimaryHostAndSendsWhatItMissedAsHistory)
{
    startGateway(QStringLiteral(", prefix: plant1"), QStringLiteral(", primary_host_id: scada"));
    Subscriber json;
    json.start(broker.port, QStringLiteral("plant1/press/speed"));
    const auto seeSpeed = [&](int value) {
        EXPECT_FALSE(json.waitFor(QStringLiteral("plant1/press/speed"), [&](const QByteArray& payload) {
                               return jsonObject(payload).value(QStringLiteral("value")) == value;
                           }).isEmpty()) << gateway.log().toStdString();
    };
    // The host has not come yet: the gateway polls, keeps, publishes no birth.
    for (const int speed : {1, 2}) {
        plc.plc.setValue(QStringLiteral("D"), 0, quint32(speed));
        seeSpeed(speed);
    }
    host.take();
    EXPECT_EQ(host.messages.size(), 0);

    const auto historyAfterBirth = [&](int bdSeq, const QString& endsWith) {
        const int nbirth = host.waitForType(QStringLiteral("NBIRTH"));
        ASSERT_GE(nbirth, 0) << gateway.log().toStdString();
        EXPECT_EQ(metricNamed(host.messages.at(nbirth), QStringLiteral("bdSeq")).value(QStringLiteral("value")), bdSeq);
        const int dbirth = host.waitForType(QStringLiteral("DBIRTH"), nbirth);
        ASSERT_GE(dbirth, 0);
        ASSERT_GE(host.waitForType(QStringLiteral("DDATA"), dbirth), 0);
        const QString speed = historyAfter(dbirth).filter(QStringLiteral("speed=")).join(QLatin1Char(' '));
        EXPECT_TRUE((QLatin1Char(' ') + speed).endsWith(QLatin1Char(' ') + endsWith)) << speed.toStdString();
    };
    ASSERT_TRUE(state(true, 1000));
    historyAfterBirth(0, QStringLiteral("speed=1 speed=2"));

    // The host goes: NDEATH; the next session waits for it again.
    int from = host.messages.size();
    ASSERT_TRUE(state(false, 1001));
    EXPECT_GE(host.waitForType(QStringLiteral("NDEATH"), from), 0);
    plc.plc.setValue(QStringLiteral("D"), 0, 3);
    seeSpeed(3);
    host.messages.clear();
    ASSERT_TRUE(state(true, 1002));
    historyAfterBirth(1, QStringLiteral("speed=3"));
}

// With history:, what the primary host misses is kept in the history store:
// a gateway killed and started again during the host's outage still sends
// every change of it, as historical DDATA, oldest first, after the DBIRTH
// once the host is back. What the gateway stored is read from its file by a
// connection of this test's own.
TEST_F(SparkplugEdgeNode, WhatItsHostMissedOutlivesAKillDuringTheOutage)
{
    const QString historyFile = dir.filePath(QStringLiteral("history.db"));
    // Waits until the gateway stored the tag's value.
    const auto stored = [&](const char* tag, double value) {
        return waitUntil([&] {
            HistoryStore store;
            QString error;
            if (!store.open(historyFile, &error))
                return false;
            for (const HistoryChange& change : store.range(QStringLiteral("press"), QLatin1String(tag), 0, INT64_MAX, -1)) {
                const QJsonValue shown = jsonObject(change.payload).value(QStringLiteral("value"));
                if (shown == value || (shown.isArray() && shown.toArray().last() == value))
                    return true;
            }
            return false;
        }, 20000);
    };

    // Born once, then the host goes away.
    startGateway(QStringLiteral(", json: false"), QStringLiteral(", primary_host_id: scada"),
                 QStringLiteral("history: {path: \"%1\"}\n").arg(historyFile));
    ASSERT_TRUE(state(true, 1000));
    ASSERT_GE(host.waitForType(QStringLiteral("DBIRTH")), 0) << gateway.log().toStdString();
    ASSERT_TRUE(state(false, 1001));
    ASSERT_GE(host.waitForType(QStringLiteral("NDEATH")), 0) << gateway.log().toStdString();
    const struct {
        const char* tag;
        int word;
        int value;
    } changes[] = {{"speed", 0, 1}, {"speed", 0, 2}, {"recipe", 11, 9}, {"speed", 0, 3}};
    for (const auto& change : changes) {
        plc.plc.setValue(QStringLiteral("D"), change.word, quint32(change.value));
        ASSERT_TRUE(stored(change.tag, change.value)) << change.tag << " " << change.value << gateway.log().toStdString();
    }
    ::kill(pid_t(gateway.process.processId()), SIGKILL);
    gateway.process.waitForFinished();

    // Started again while the host is still away; then the host comes.
    gateway.start(config);
    host.take();
    host.messages.clear();
    ASSERT_TRUE(state(true, 1002));
    const int dbirth = host.waitForType(QStringLiteral("DBIRTH"));
    ASSERT_GE(dbirth, 0) << gateway.log().toStdString();
    QStringList history;
    ASSERT_TRUE(waitUntil([&] {
        history = historyAfter(dbirth);
        return history.join(QLatin1Char(' ')).contains(QStringLiteral("speed=1 speed=2 recipe/0=7 recipe/1=9 speed=3"));
    }, 30000)) << history.join(QLatin1Char(' ')).toStdString() << "\n" << gateway.log().toStdString();
}
} // namespace
