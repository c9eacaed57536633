// The built gateway as a Sparkplug B edge node against a real mosquitto broker
// and the virtual PLC. The host is independent of the gateway's codec:
// mosquitto_sub prints every spBv1.0 message as hex, npm's sparkplug-payload
// (run by node on sparkplug/spb.js) decodes it; commands go the other way.

#include "mqtt_parts.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <csignal>

namespace {

// node on spb.js with `arguments`, finding the package.
void startSpb(QProcess& node, const QString& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral(TAVRIN_SPARKPLUG_TOOLS "/node_modules"));
    node.setProcessEnvironment(environment);
    node.start(QStringLiteral("node"), QStringList{QStringLiteral(TAVRIN_SOURCE_DIR "/tests/gateway/sparkplug/spb.js")} + arguments.split(QLatin1Char(' ')));
}

QString type(const QJsonObject& message)
{
    return message.value(QStringLiteral("type")).toString();
}

quint64 aliasOf(const QJsonValue& metric)
{
    return quint64(metric.toObject().value(QStringLiteral("alias")).toDouble());
}

QJsonObject metricNamed(const QJsonObject& message, const QString& name)
{
    for (const QJsonValue& metric : message.value(QStringLiteral("metrics")).toArray()) {
        if (metric.toObject().value(QStringLiteral("name")).toString() == name)
            return metric.toObject();
    }
    return QJsonObject();
}

QJsonValue bdSeq(const QJsonObject& message)
{
    return metricNamed(message, QStringLiteral("bdSeq")).value(QStringLiteral("value"));
}

QJsonObject metric(const char* name, const char* type, const QJsonValue& value)
{
    return QJsonObject{{QStringLiteral("name"), QLatin1String(name)}, {QStringLiteral("type"), QLatin1String(type)}, {QStringLiteral("value"), value}};
}

struct SparkplugHost {
    ChildProcess subscriber;
    ChildProcess decoder;
    QVector<QJsonObject> messages; // decoded, in the order they came

    bool start(quint16 port)
    {
        startSpb(decoder, QStringLiteral("decode"));
        subscriber.start(QStringLiteral("mosquitto_sub"), mosquittoOptions(port) + QStringList{QStringLiteral("-t"), QStringLiteral("spBv1.0/#"), QStringLiteral("-F"), QStringLiteral("%t %x")});
        return decoder.waitForStarted() && subscriber.waitForStarted();
    }

    void take()
    {
        subscriber.waitForReadyRead(5);
        while (subscriber.canReadLine())
            decoder.write(subscriber.readLine());
        decoder.waitForReadyRead(5);
        while (decoder.canReadLine())
            messages.append(jsonObject(decoder.readLine()));
    }

    // The index of the first message from `from` on that `accept` likes, -1 if none came.
    int waitFor(const std::function<bool(const QJsonObject&)>& accept, int from = 0)
    {
        int found = -1;
        waitUntil([&] {
            take();
            for (int i = from; i < messages.size() && found < 0; ++i)
                found = accept(messages.at(i)) ? i : -1;
            return found >= 0;
        }, 30000);
        return found;
    }

    int waitForType(const QString& wanted, int from = 0)
    {
        return waitFor([&](const QJsonObject& m) { return type(m) == wanted; }, from);
    }

    // The first DDATA from `from` on that carries `value` for the metric of `alias`, -1 if none came.
    int ddataWith(quint64 alias, const QJsonValue& value, int from)
    {
        return waitFor([&](const QJsonObject& m) {
            const QJsonArray metrics = m.value(QStringLiteral("metrics")).toArray();
            return type(m) == QLatin1String("DDATA") && std::any_of(metrics.begin(), metrics.end(), [&](const QJsonValue& x) {
                return aliasOf(x) == alias && x.toObject().value(QStringLiteral("value")) == value;
            });
        }, from);
    }
};

// A command (NCMD, DCMD) of `metrics`, encoded by the independent codec and published.
bool publishSparkplug(quint16 port, const QString& topic, const QJsonArray& metrics, const QTemporaryDir& dir)
{
    const QString file = dir.filePath(QStringLiteral("command.bin"));
    ChildProcess encoder;
    startSpb(encoder, QStringLiteral("encode ") + file);
    encoder.write(QJsonDocument(QJsonObject{{QStringLiteral("timestamp"), 1}, {QStringLiteral("metrics"), metrics}}).toJson());
    encoder.closeWriteChannel();
    if (!encoder.waitForFinished(30000) || encoder.exitCode() != 0)
        return false;
    ChildProcess publisher;
    publisher.start(QStringLiteral("mosquitto_pub"), mosquittoOptions(port) + QStringList{QStringLiteral("-t"), topic, QStringLiteral("-f"), file});
    return publisher.waitForFinished(10000) && publisher.exitCode() == 0;
}

// One row per tag format: the metric the host sees, and the PLC memory behind it.
const struct {
    const char* name;
    const char* type;
    QJsonValue value;
} kMetrics[] = {
    {"running", "Boolean", true},    {"speed", "Int16", -2},          {"count", "UInt16", 40000},
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

class SparkplugEdgeNode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(QStringLiteral(TAVRIN_SPARKPLUG_TOOLS "/node_modules/sparkplug-payload/package.json")))
            << "no npm sparkplug-payload in " TAVRIN_SPARKPLUG_TOOLS ": run scripts/ensure-sparkplug-tools.sh";
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
                       QStringLiteral("{\"online\":%1,\"timestamp\":%2}").arg(QLatin1String(online ? "true" : "false")).arg(timestamp).toUtf8(), true);
    }

    // The historical metrics that follow the DBIRTH at `dbirth` before live
    // data resumes, oldest first, as "name=value", a value repeated once.
    QStringList historyAfter(int dbirth)
    {
        host.take();
        QHash<quint64, QString> names;
        for (const QJsonValue& m : host.messages.at(dbirth).value(QStringLiteral("metrics")).toArray())
            names.insert(aliasOf(m), m.toObject().value(QStringLiteral("name")).toString());
        QStringList history;
        double last = 0;
        for (int i = dbirth + 1; i < host.messages.size() && type(host.messages.at(i)) == QLatin1String("DDATA"); ++i) {
            const QJsonArray metrics = host.messages.at(i).value(QStringLiteral("metrics")).toArray();
            if (!metrics.at(0).toObject().value(QStringLiteral("historical")).toBool())
                break;
            for (const QJsonValue& m : metrics) {
                EXPECT_TRUE(m.toObject().value(QStringLiteral("historical")).toBool());
                EXPECT_GE(m.toObject().value(QStringLiteral("timestamp")).toDouble(), last);
                last = m.toObject().value(QStringLiteral("timestamp")).toDouble();
                const QString shown = names.value(aliasOf(m)) + QLatin1Char('=') + QString::number(m.toObject().value(QStringLiteral("value")).toDouble());
                if (history.isEmpty() || history.last() != shown)
                    history.append(shown);
            }
        }
        return history;
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
    ASSERT_GE(nbirth, 0) << gateway.log();
    const QJsonObject node = host.messages.at(nbirth);
    EXPECT_EQ(metricNamed(node, QStringLiteral("bdSeq")).value(QStringLiteral("type")), QStringLiteral("Int64"));
    EXPECT_EQ(bdSeq(node), 0);
    EXPECT_EQ(metricNamed(node, QStringLiteral("Node Control/Rebirth")).value(QStringLiteral("value")), false);

    const int dbirth = host.waitForType(QStringLiteral("DBIRTH"), nbirth);
    ASSERT_GE(dbirth, 0);
    const QJsonObject birth = host.messages.at(dbirth);
    EXPECT_EQ(birth.value(QStringLiteral("device")), QStringLiteral("press"));
    QSet<quint64> aliases;
    for (const auto& row : kMetrics) {
        const QJsonObject born = metricNamed(birth, QLatin1String(row.name));
        EXPECT_EQ(born.value(QStringLiteral("type")), QLatin1String(row.type)) << row.name;
        // Born before the first read, the value comes by alias next.
        EXPECT_TRUE(born.value(QStringLiteral("value")) == row.value || host.ddataWith(aliasOf(born), row.value, dbirth) >= 0) << row.name;
        aliases.insert(aliasOf(born));
    }
    EXPECT_EQ(aliases.size(), int(std::size(kMetrics)));
    const auto alias = [&](const char* name) { return aliasOf(metricNamed(birth, QLatin1String(name))); };

    // A change in PLC memory: DDATA by alias only.
    int at = host.messages.size();
    plc.plc.setValue(QStringLiteral("D"), 1, 41000);
    at = host.ddataWith(alias("count"), 41000, at);
    ASSERT_GE(at, 0);
    EXPECT_FALSE(host.messages.at(at).value(QStringLiteral("metrics")).toArray().at(0).toObject().contains(QStringLiteral("name")));

    // DCMD by name and by alias; the read-only one is refused.
    QJsonObject speed = metric("", "Int16", -300);
    speed.insert(QStringLiteral("alias"), double(alias("speed")));
    speed.remove(QStringLiteral("name"));
    at = host.messages.size();
    const QJsonArray writes{metric("setpoint", "Float", 12.5), speed, metric("recipe/1", "Int16", 99), metric("running", "Boolean", false)};
    ASSERT_TRUE(publishSparkplug(broker.port, QStringLiteral("spBv1.0/plant1/DCMD/gw1/press"), writes, dir));
    // 12.5 = 0x41480000, -300 = 0xFED4
    const auto words = [&] {
        QVector<quint32> out;
        for (const int k : {0, 6, 7, 10, 11})
            out.append(plc.plc.value(QStringLiteral("D"), k).value_or(0xFFFFFFFF));
        return out;
    };
    EXPECT_TRUE(waitUntil([&] { return words() == QVector<quint32>{0xFED4, 0, 0x4148, 7, 99}; }, 30000));
    EXPECT_EQ(plc.plc.value(QStringLiteral("M"), 0), 1u);
    EXPECT_GE(host.ddataWith(alias("setpoint"), 12.5, at), 0);
    EXPECT_GE(host.ddataWith(alias("speed"), -300, at), 0);
    EXPECT_TRUE(waitUntil([&] { return gateway.log().find("running is read-only") != std::string::npos; }, 10000));

    // Rebirth: the same bdSeq, seq from 0 again, every device born again.
    at = host.messages.size();
    ASSERT_TRUE(publishSparkplug(broker.port, QStringLiteral("spBv1.0/plant1/NCMD/gw1"), {metric("Node Control/Rebirth", "Boolean", true)}, dir));
    at = host.waitForType(QStringLiteral("NBIRTH"), at);
    ASSERT_GE(at, 0);
    EXPECT_EQ(bdSeq(host.messages.at(at)), 0);
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
    EXPECT_EQ(bdSeq(host.messages.at(at)), 0);

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
// offline the changes are kept (in the history store, or in memory without
// one) and come after the DBIRTH as history, oldest first, before live data.
// What is kept in the store outlives a restart during the outage.
class PrimaryHost : public SparkplugEdgeNode, public ::testing::WithParamInterface<bool> {};

TEST_P(PrimaryHost, WaitsForItAndSendsWhatItMissedAsHistory)
{
    const bool stored = GetParam();
    startGateway(QStringLiteral(", prefix: plant1"), QStringLiteral(", primary_host_id: scada"),
                 stored ? QStringLiteral("history: {path: \"%1\"}\n").arg(dir.filePath(QStringLiteral("history.db"))) : QString());
    Subscriber json;
    json.start(broker.port, QStringLiteral("plant1/press/+"));
    const auto change = [&](int word, int value, const char* tag, const QJsonValue& expected) {
        plc.plc.setValue(QStringLiteral("D"), word, quint32(value));
        EXPECT_FALSE(json.waitFor(QStringLiteral("plant1/press/") + QLatin1String(tag), [&](const QByteArray& payload) {
                             return jsonObject(payload).value(QStringLiteral("value")) == expected;
                         }).isEmpty()) << gateway.log();
    };
    // The history of the tags `names` after the next DBIRTH holds `kept`.
    const auto historyAfterBirth = [&](int sessions, const QString& names, const QString& kept) {
        const int nbirth = host.waitForType(QStringLiteral("NBIRTH"));
        ASSERT_GE(nbirth, 0) << gateway.log();
        if (sessions >= 0) {
            EXPECT_EQ(bdSeq(host.messages.at(nbirth)), sessions);
        }
        const int dbirth = host.waitForType(QStringLiteral("DBIRTH"), nbirth);
        ASSERT_GE(dbirth, 0);
        QString history;
        const QRegularExpression named(QStringLiteral("^(%1)=").arg(names));
        EXPECT_TRUE(waitUntil([&] { return (history = historyAfter(dbirth).filter(named).join(QLatin1Char(' '))).contains(kept); }, 30000))
            << history.toStdString();
    };
    // The host has not come yet: the gateway polls, keeps, publishes no birth.
    change(0, 1, "speed", 1);
    change(0, 2, "speed", 2);
    host.take();
    EXPECT_EQ(host.messages.size(), 0);
    ASSERT_TRUE(state(true, 1000));
    historyAfterBirth(0, QStringLiteral("speed"), QStringLiteral("speed=1 speed=2"));

    // The host goes: NDEATH; the next session waits for it again.
    ASSERT_TRUE(state(false, 1001));
    EXPECT_GE(host.waitForType(QStringLiteral("NDEATH"), host.messages.size()), 0);
    change(0, 3, "speed", 3);
    change(11, 9, "recipe", QJsonArray{7, 9});
    change(0, 4, "speed", 4);
    if (stored) {
        ASSERT_EQ(gateway.stop(), 0) << gateway.log();
        gateway.start(config);
    }
    host.messages.clear();
    ASSERT_TRUE(state(true, 1002));
    // Memory keeps the element that changed, the store the whole tag.
    historyAfterBirth(stored ? -1 : 1, QStringLiteral("speed|recipe/1"), QStringLiteral("speed=3 recipe/1=9 speed=4"));
}

INSTANTIATE_TEST_SUITE_P(Kept, PrimaryHost, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "InTheHistoryStore" : "InMemory"); });

} // namespace
