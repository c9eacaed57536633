// `tavrin gateway` as a plant runs it: virtual PLCs with known memory on
// loopback TCP, a real mosquitto broker, the built tool's gateway, and
// mosquitto_sub and mosquitto_pub as the independent client. Expected values
// are written out by hand from the PLC memory each test sets.

#include "http_get.h"
#include "mqtt_parts.h"
#include "press_memory.h"

#include "tool/tool_process.h"

#include "support/qt_printers.h"

#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

const QString kPrefix = QStringLiteral("plant1");

QString topic(const QString& rest)
{
    return kPrefix + QLatin1Char('/') + rest;
}

bool isGood(const QByteArray& payload)
{
    return jsonObject(payload).value(QStringLiteral("quality")).toString() == QLatin1String("good");
}

bool isBad(const QByteArray& payload)
{
    return jsonObject(payload).value(QStringLiteral("quality")).toString() == QLatin1String("bad");
}

std::function<bool(const QByteArray&)> goodWith(const QJsonValue& value)
{
    return [value](const QByteArray& payload) {
        return isGood(payload) && jsonObject(payload).value(QStringLiteral("value")) == value;
    };
}

std::function<bool(const QByteArray&)> statusIs(const char* status)
{
    return [status](const QByteArray& payload) {
        return jsonObject(payload).value(QStringLiteral("status")).toString() == QLatin1String(status);
    };
}

bool equals(const QByteArray& payload, const char* text)
{
    return payload == text;
}

// Two PLC lines, a broker, a gateway and a subscriber to everything under the prefix.
class GatewayEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.start()) << broker.process.readAll().toStdString();
        presetPressMemory(press.plc);
        oven.plc.setValue(QStringLiteral("D"), 0, 180);
        httpPort = freeLoopbackPort();
        writeConfig();
        gateway.start(configFile());
        subscriber.start(broker.port, topic(QStringLiteral("#")));
        ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/status")), statusIs("online")).isEmpty())
            << gateway.log().toStdString();
        ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/status")), statusIs("online")).isEmpty());
    }

    QString configFile() const { return dir.filePath(QStringLiteral("gateway.yaml")); }

    void writeConfig()
    {
        QFile file(configFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
#ifdef TAVRIN_GATEWAY_HTTP
        file.write(QStringLiteral("http: {listen: 127.0.0.1:%1}\n").arg(httpPort).toUtf8());
#endif
        file.write(QStringLiteral(R"(mqtt:
  url: mqtt://127.0.0.1:%1
  prefix: plant1
  client_id: tavrin-test
lines:
  - name: press1
    port: %2
    baud: 115200
    timeout_ms: 20
    tags:
      - { name: speed,    address: D100 }
      - { name: flow,     address: D101, format: uint16 }
      - { name: total,    address: D200, format: int32 }
      - { name: energy,   address: D210, format: uint32, writable: true }
      - { name: setpoint, address: D300, format: float, writable: true }
      - { name: mask,     address: D400, format: hex, writable: true }
      - { name: running,  address: M0 }
      - { name: lamp,     address: Y7, writable: true }
      - { name: inputs,   address: X0, count: 8 }
      - { name: batch,    address: 32CV200 }
      - { name: ready,    address: D10.3 }
      - { name: recipe,   address: D500, count: 3, writable: true }
  - name: oven
    port: %3
    baud: 115200
    timeout_ms: 20
    tags:
      - { name: temperature, address: D0 }
)")
                       .arg(broker.port)
                       .arg(press.port(), oven.port())
                       .toUtf8());
    }

    QVector<quint32> words(ServedPlc& plc, int first, int count) { return plcWords(plc.plc, first, count); }
    quint64 writesReceived(ServedPlc& plc) { return plcWritesReceived(plc.plc); }

    QTemporaryDir dir;
    Broker broker;
    ServedPlc press{ServedOn::Tcp, VirtualPlcOptions()};
    ServedPlc oven{ServedOn::Tcp, VirtualPlcOptions()};
    quint16 httpPort = 0; // the metrics, in a build with the web face
    GatewayProcess gateway;
    Subscriber subscriber;
};

TEST_F(GatewayEndToEnd, RetainedValuesEqualPlcMemoryForEveryFormat)
{
    struct Row {
        const char* tag;
        QJsonValue value;
    };
    const Row rows[] = {
        {"speed", 42},
        {"flow", 65535},
        {"total", -100000},
        {"energy", 3000000000.0},
        {"setpoint", 3.25},
        {"mask", QStringLiteral("0x00FF")},
        {"running", true},
        {"lamp", true},
        {"inputs", QJsonArray{false, true, false, true, false, false, false, false}},
        {"batch", -5},
        {"ready", true},
        {"recipe", QJsonArray{1, 2, 3}},
    };
    // A new subscriber gets what the broker retained.
    Subscriber late;
    late.start(broker.port, topic(QStringLiteral("#")));
    for (const Row& row : rows) {
        const QString tagTopic = topic(QStringLiteral("press1/%1").arg(QLatin1String(row.tag)));
        EXPECT_FALSE(late.waitFor(tagTopic, goodWith(row.value)).isEmpty())
            << row.tag << ": " << late.latest(tagTopic).toStdString();
    }
    EXPECT_FALSE(late.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(180)).isEmpty());
    EXPECT_EQ(late.waitFor(topic(QStringLiteral("gateway/status")), [](const QByteArray&) { return true; }),
              QByteArray("online"));
    const QJsonObject speed = jsonObject(late.latest(topic(QStringLiteral("press1/speed"))));
    EXPECT_TRUE(QDateTime::fromString(speed.value(QStringLiteral("ts")).toString(), Qt::ISODateWithMs).isValid());
}

TEST_F(GatewayEndToEnd, AChangeInPlcMemoryArrives)
{
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(42)).isEmpty());
    press.plc.setValue(QStringLiteral("D"), 100, 43);
    oven.plc.setValue(QStringLiteral("D"), 0, 181);
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(43)).isEmpty());
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(181)).isEmpty());
}

TEST_F(GatewayEndToEnd, ASetChangesPlcMemoryGetsItsResultAndIsReadBack)
{
    struct Row {
        const char* tag;
        const char* payload;
        QJsonValue readBack;
        int firstWord;
        QVector<quint32> words; // expected in the PLC, by hand
    };
    const Row rows[] = {
        {"setpoint", "12.5", 12.5, 300, {0x0000, 0x4148}},               // 12.5 = 0x41480000
        {"energy", "{\"value\": 4000000000}", 4000000000.0, 210, {0x2800, 0xEE6B}}, // 0xEE6B2800
        {"mask", "\"0xBEEF\"", QStringLiteral("0xBEEF"), 400, {0xBEEF}},
        {"recipe", "[7, -1, 9]", QJsonArray{7, -1, 9}, 500, {7, 0xFFFF, 9}},
    };
    for (const Row& row : rows) {
        const QString tag = QStringLiteral("press1/%1").arg(QLatin1String(row.tag));
        const int from = subscriber.messages.size();
        const quint64 blockWritesBefore = press.plc.counters().writes;
        ASSERT_TRUE(publish(broker.port, topic(tag + QStringLiteral("/set")), row.payload));
        EXPECT_FALSE(subscriber.waitFor(topic(tag + QStringLiteral("/set/result")),
                                        [](const QByteArray& p) { return equals(p, R"({"ok":true})"); }, from)
                         .isEmpty())
            << row.tag << ": " << subscriber.latest(topic(tag + QStringLiteral("/set/result"))).toStdString();
        EXPECT_EQ(words(press, row.firstWord, row.words.size()), row.words) << row.tag;
        // A tag's values land together, in one scan of the PLC's program.
        EXPECT_EQ(press.plc.counters().writes - blockWritesBefore, 1u) << row.tag;
        EXPECT_FALSE(subscriber.waitFor(topic(tag), goodWith(row.readBack), from).isEmpty()) << row.tag;
    }
    const int from = subscriber.messages.size();
    ASSERT_TRUE(publish(broker.port, topic(QStringLiteral("press1/lamp/set")), R"({"value": false, "id": 17})"));
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/lamp/set/result")),
                                    [](const QByteArray& p) { return equals(p, R"({"id":17,"ok":true})"); }, from)
                     .isEmpty());
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 0u);
}

TEST_F(GatewayEndToEnd, RefusedWritesNeverReachThePlcAndChangeNothing)
{
    struct Row {
        const char* topic;
        const char* payload;
        const char* result;
    };
    const Row rows[] = {
        {"press1/speed/set", "5",
         R"({"error":"tag speed is read-only; the configuration marks a tag writable: true","ok":false})"},
        {"press1/inputs/set", "[1,1,1,1,1,1,1,1]",
         R"({"error":"tag inputs is read-only; the configuration marks a tag writable: true","ok":false})"},
        {"press1/nosuch/set", "5", R"({"error":"line press1 has no tag \"nosuch\"","ok":false})"},
        {"nowhere/speed/set", "5", R"({"error":"no line \"nowhere\" in this gateway","ok":false})"},
        {"press1/setpoint/set", "true", R"({"error":"tag setpoint (float): a float takes a number","ok":false})"},
        {"press1/energy/set", "-1",
         R"({"error":"tag energy (uint32): uint32 value \"-1\": expected a whole number from 0 to 4294967295, or 0x00000000 to 0xFFFFFFFF","ok":false})"},
        {"press1/recipe/set", "[1, 2]", R"({"error":"tag recipe (int16): this tag takes an array of 3 values","ok":false})"},
        {"press1/lamp/set", "on",
         R"({"error":"the payload is not one JSON value; expected a JSON value such as 42, true, 3.5, \"0x00FF\" or [1, 2], or {\"value\": ..., \"id\": ...}","ok":false})"},
    };
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(42)).isEmpty());
    const quint64 writesBefore = writesReceived(press);
    for (const Row& row : rows) {
        const int from = subscriber.messages.size();
        ASSERT_TRUE(publish(broker.port, topic(QLatin1String(row.topic)), row.payload));
        const QString resultTopic = topic(QLatin1String(row.topic)) + QStringLiteral("/result");
        EXPECT_EQ(subscriber.waitFor(resultTopic, [](const QByteArray&) { return true; }, from), QByteArray(row.result))
            << row.topic;
    }
    EXPECT_EQ(writesReceived(press), writesBefore);
#ifdef TAVRIN_GATEWAY_HTTP
    EXPECT_EQ(metricValue(httpPort, R"(tavrin_gateway_writes_total{result="refused"})"), double(std::size(rows)));
#endif
    EXPECT_EQ(words(press, 100, 1), QVector<quint32>{42});
    EXPECT_EQ(words(press, 300, 2), (QVector<quint32>{0x0000, 0x4050}));
    EXPECT_EQ(words(press, 210, 2), (QVector<quint32>{0x5E00, 0xB2D0}));
    EXPECT_EQ(words(press, 500, 3), (QVector<quint32>{1, 2, 3}));
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 1u);
}

// A write left retained on the broker would be carried out again at every
// reconnection: the gateway refuses a write that comes retained, published
// so while it is connected or replayed to it when it connects, and leaves
// PLC memory as it was; a write without retain is carried out.
TEST_F(GatewayEndToEnd, ARetainedWriteIsRefusedLiveAndWhenReplayed)
{
    const QString set = topic(QStringLiteral("press1/setpoint/set"));
    const auto anything = [](const QByteArray&) { return true; };
    const QByteArray refused(R"({"error":"a retained write is refused: publish writes without retain","ok":false})");
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/setpoint")), goodWith(3.25)).isEmpty());
    const quint64 writesBefore = writesReceived(press);
    int from = subscriber.messages.size();
    ASSERT_TRUE(publish(broker.port, set, "1.5", true));
    EXPECT_EQ(subscriber.waitFor(set + QStringLiteral("/result"), anything, from), refused) << "published retained";
    gateway.stop();
    from = subscriber.messages.size();
    gateway.start(configFile());
    EXPECT_EQ(subscriber.waitFor(set + QStringLiteral("/result"), anything, from), refused) << "replayed on connecting";
    EXPECT_EQ(writesReceived(press), writesBefore);
    EXPECT_EQ(words(press, 300, 2), (QVector<quint32>{0x0000, 0x4050}));
    from = subscriber.messages.size();
    ASSERT_TRUE(publish(broker.port, set, "", true)); // clears the retained write, itself refused
    EXPECT_EQ(subscriber.waitFor(set + QStringLiteral("/result"), anything, from), refused);
    from = subscriber.messages.size();
    ASSERT_TRUE(publish(broker.port, set, "2"));
    EXPECT_EQ(subscriber.waitFor(set + QStringLiteral("/result"), anything, from), QByteArray(R"({"ok":true})"));
    EXPECT_EQ(words(press, 300, 2), (QVector<quint32>{0x0000, 0x4000})); // 2.0 = 0x40000000
}

TEST_F(GatewayEndToEnd, ABrokerRestartIsSurvivedAndEverythingRepublished)
{
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(42)).isEmpty());
    const quint16 port = broker.port;
    broker.stop();
    press.plc.setValue(QStringLiteral("D"), 100, 77); // while the broker is away
    const quint64 readsBefore = press.plc.counters().reads;
    EXPECT_TRUE(waitUntil([&] { return press.plc.counters().reads > readsBefore + 10; })) << "the gateway stopped polling";
    ASSERT_TRUE(broker.start(port));
    // The restarted broker kept nothing: all it holds the gateway published again.
    Subscriber fresh;
    fresh.start(port, topic(QStringLiteral("#")));
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("press1/speed")), goodWith(77)).isEmpty()) << gateway.log().toStdString();
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(180)).isEmpty());
    EXPECT_EQ(fresh.waitFor(topic(QStringLiteral("gateway/status")), [](const QByteArray&) { return true; }), QByteArray("online"));
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("press1/status")), statusIs("online")).isEmpty());
    ASSERT_TRUE(publish(port, topic(QStringLiteral("press1/setpoint/set")), "2"));
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("press1/setpoint/set/result")),
                               [](const QByteArray& p) { return equals(p, R"({"ok":true})"); })
                     .isEmpty());
}

TEST_F(GatewayEndToEnd, APlcRestartTurnsItsTagsBadThenGoodWhileTheOtherLineGoesOn)
{
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(42)).isEmpty());
    const quint16 port = press.tcp->port();
    press.tcp->close();
    const QByteArray bad = subscriber.waitFor(topic(QStringLiteral("press1/speed")), isBad);
    ASSERT_FALSE(bad.isEmpty());
    EXPECT_TRUE(jsonObject(bad).value(QStringLiteral("value")).isNull());
    EXPECT_FALSE(jsonObject(bad).value(QStringLiteral("error")).toString().isEmpty());
    const QByteArray offline = subscriber.waitFor(topic(QStringLiteral("press1/status")), statusIs("offline"));
    EXPECT_FALSE(jsonObject(offline).value(QStringLiteral("reason")).toString().isEmpty()) << offline.toStdString();
    // A write to the line that is away fails at once and says why.
    int from = subscriber.messages.size();
    ASSERT_TRUE(publish(broker.port, topic(QStringLiteral("press1/setpoint/set")), "9"));
    const QByteArray result = subscriber.waitFor(topic(QStringLiteral("press1/setpoint/set/result")),
                                                 [](const QByteArray&) { return true; }, from);
    EXPECT_FALSE(jsonObject(result).value(QStringLiteral("ok")).toBool(true)) << result.toStdString();
    // The other line goes on meanwhile.
    oven.plc.setValue(QStringLiteral("D"), 0, 190);
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(190)).isEmpty());

    press.plc.setValue(QStringLiteral("D"), 100, 4321); // what the PLC holds when it comes back
    from = subscriber.messages.size();
    ASSERT_TRUE(press.tcp->open(port));
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(4321), from).isEmpty());
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/status")), statusIs("online"), from).isEmpty());
    EXPECT_EQ(words(press, 300, 2), (QVector<quint32>{0x0000, 0x4050})) << "a refused write reached the PLC late";
}

TEST_F(GatewayEndToEnd, StoppingTellsTheBrokerThatNothingIsVouchedFor)
{
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(42)).isEmpty());
    EXPECT_EQ(gateway.stop(), 0) << gateway.log().toStdString();
    Subscriber after;
    after.start(broker.port, topic(QStringLiteral("#")));
    EXPECT_EQ(after.waitFor(topic(QStringLiteral("gateway/status")), [](const QByteArray&) { return true; }), QByteArray("offline"));
    const QByteArray status = after.waitFor(topic(QStringLiteral("press1/status")), statusIs("offline"));
    EXPECT_EQ(jsonObject(status).value(QStringLiteral("reason")).toString(), QStringLiteral("the gateway stopped"));
    const QByteArray speed = after.waitFor(topic(QStringLiteral("press1/speed")), isBad);
    EXPECT_EQ(jsonObject(speed).value(QStringLiteral("error")).toString(), QStringLiteral("the gateway stopped"));
}

TEST_F(GatewayEndToEnd, TheLastWillSaysOfflineWhenTheGatewayDies)
{
    ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("gateway/status")), [](const QByteArray& p) { return p == "online"; }).isEmpty());
    gateway.process.kill();
    gateway.process.waitForFinished();
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("gateway/status")), [](const QByteArray& p) { return p == "offline"; }).isEmpty());
}

struct BadConfigRow {
    const char* name;
    const char* text;
    const char* message;
};

TEST(GatewayCommand, ABadConfigurationFileGivesAClearMessageAndStartsNothing)
{
    const BadConfigRow rows[] = {
        {"UnknownKey", "mqtt: {prefix: p, url: mqtt://127.0.0.1:1}\nlines:\n  - {name: a, port: tcp:127.0.0.1:1, tags: [{name: t, address: D0, writeable: true}]}\n",
         ":3:68: unknown key \"writeable\" in a tag; accepted are name, address, format, count, writable, deadband, "
         "coil, discrete_input, input_register, holding\n"},
        {"BadAddress", "mqtt: {prefix: p, url: mqtt://127.0.0.1:1}\nlines:\n  - {name: a, port: tcp:127.0.0.1:1, tags: [{name: t, address: Q0}]}\n",
         ":3:64: address "},
    };
    for (const BadConfigRow& row : rows) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bad.yaml"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(row.text);
        out.close();
        const QString output = runTool({QStringLiteral("gateway"), file});
        EXPECT_TRUE(output.startsWith(file + QLatin1String(row.message))) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("tavrin gateway: 1 mistake in %1; nothing was started\n").arg(file)))
            << output.toStdString();
        EXPECT_TRUE(output.endsWith(QStringLiteral("exit 2"))) << output.toStdString();
    }
    EXPECT_TRUE(runTool({QStringLiteral("gateway"), QStringLiteral("/nonexistent.yaml")})
                    .startsWith(QStringLiteral("/nonexistent.yaml: cannot read the configuration: ")));
    EXPECT_TRUE(runTool({QStringLiteral("gateway")}).endsWith(QStringLiteral("exit 2")));
}

// A listening address already taken is found before anything else starts:
// the gateway names it and exits, having polled no PLC, connected to no
// broker (a listener that stands in for one hears no knock) and started no
// other face.
TEST(GatewayCommand, AListeningPortInUseIsFoundBeforeTheBrokerTheLinesAndTheOtherFaces)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    QTcpServer broker;
    ASSERT_TRUE(broker.listen(QHostAddress::LocalHost, 0));
    ServedPlc plc(ServedOn::Tcp, VirtualPlcOptions());
    const quint16 free = freeLoopbackPort();
    const struct {
        const char* face;
        quint16 modbus;
        quint16 http;
        const char* message;
    } rows[] = {
        {"modbus", taken.serverPort(), free, "tavrin gateway: Modbus server on 127.0.0.1:%1: "},
#ifdef TAVRIN_GATEWAY_HTTP
        {"http", free, taken.serverPort(), "tavrin gateway: web page on 127.0.0.1:%1: "},
#endif
    };
    for (const auto& row : rows) {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("gateway.yaml")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QString text = QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: p}\nmodbus: {listen: \"127.0.0.1:%2\"}\n")
                           .arg(broker.serverPort())
                           .arg(row.modbus);
#ifdef TAVRIN_GATEWAY_HTTP
        text += QStringLiteral("http: {listen: \"127.0.0.1:%1\"}\n").arg(row.http);
#endif
        text += QStringLiteral("lines:\n  - {name: a, port: \"%1\", tags: [{name: t, address: D0, holding: 0}]}\n").arg(plc.port());
        file.write(text.toUtf8());
        file.close();
        const QString output = runTool({QStringLiteral("gateway"), file.fileName()});
        EXPECT_TRUE(output.contains(QString::fromUtf8(row.message).arg(taken.serverPort()))) << row.face << "\n" << output.toStdString();
        EXPECT_TRUE(output.endsWith(QStringLiteral("exit 1"))) << row.face;
        EXPECT_FALSE(output.contains(QStringLiteral("connecting as"))) << row.face << ": the broker was tried";
        EXPECT_FALSE(output.contains(QStringLiteral("web page, API and metrics:"))) << row.face;
        EXPECT_FALSE(broker.waitForNewConnection(100)) << row.face << ": the broker was knocked at";
        EXPECT_EQ(plc.plc.counters().framesReceived, 0u) << row.face << ": a PLC was polled";
    }
}

} // namespace
