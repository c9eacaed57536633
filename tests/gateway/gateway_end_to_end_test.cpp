// `tavrin gateway` as a plant runs it: virtual PLCs with known memory on
// loopback TCP, a real mosquitto broker, the built tool's gateway, and
// mosquitto_sub and mosquitto_pub as the independent client. Expected values
// are written out by hand from the PLC memory each test sets.

#include "http_get.h"
#include "mqtt_parts.h"
#include "press_gateway.h"

#include "support/qt_printers.h"

namespace {

QString topic(const QString& rest)
{
    return QStringLiteral("plant1/") + rest;
}

const auto anything = [](const QByteArray&) { return true; };

std::function<bool(const QByteArray&)> is(const char* key, const QJsonValue& value)
{
    return [=](const QByteArray& payload) { return jsonObject(payload).value(QLatin1String(key)) == value; };
}

std::function<bool(const QByteArray&)> goodWith(const QJsonValue& value)
{
    return [value](const QByteArray& payload) { return is("quality", QStringLiteral("good"))(payload) && is("value", value)(payload); };
}

const auto isBad = is("quality", QStringLiteral("bad"));
const auto online = is("status", QStringLiteral("online"));
const auto offline = is("status", QStringLiteral("offline"));
const QByteArray kOk(R"({"ok":true})");

// Two PLC lines, a broker, a gateway and a subscriber to everything under the prefix.
class GatewayEndToEnd : public PressGateway {
protected:
    void SetUp() override
    {
        PressGateway::SetUp();
        ASSERT_TRUE(broker.start()) << broker.process.readAll().toStdString();
        oven.plc.setValue(QStringLiteral("D"), 0, 180);
        startGateway(QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: plant1, client_id: tavrin-test}\n").arg(broker.port),
                     QStringLiteral("  - {name: oven, port: \"%1\", baud: 115200, timeout_ms: 20, tags: [{name: temperature, address: D0}]}\n")
                         .arg(oven.port()));
        subscriber.start(broker.port, topic(QStringLiteral("#")));
        ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/status")), online).isEmpty()) << gateway.log().toStdString();
        ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/status")), online).isEmpty());
    }

    // The one result of a set published now.
    QByteArray set(const QString& tag, const QByteArray& payload, bool retain = false)
    {
        const int from = subscriber.messages.size();
        EXPECT_TRUE(publish(broker.port, topic(tag + QStringLiteral("/set")), payload, retain));
        return subscriber.waitFor(topic(tag + QStringLiteral("/set/result")), anything, from);
    }

    Broker broker;
    ServedPlc oven{ServedOn::Tcp, VirtualPlcOptions()};
    Subscriber subscriber;
};

// One gateway start for the whole story, in the order a plant meets it.
TEST_F(GatewayEndToEnd, ServesThePlantThroughRefusalsRestartsAndItsEnd)
{
    // A new subscriber gets what the broker retained.
    {
        Subscriber late;
        late.start(broker.port, topic(QStringLiteral("#")));
        for (const PressTag& row : pressTags()) {
            const QString tagTopic = topic(QStringLiteral("press1/%1").arg(QLatin1String(row.tag)));
            EXPECT_FALSE(late.waitFor(tagTopic, goodWith(row.value)).isEmpty()) << row.tag << ": " << late.latest(tagTopic).toStdString();
        }
        EXPECT_FALSE(late.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(180)).isEmpty());
        EXPECT_EQ(late.waitFor(topic(QStringLiteral("gateway/status")), anything), QByteArray("online"));
        const QJsonObject speed = jsonObject(late.latest(topic(QStringLiteral("press1/speed"))));
        EXPECT_TRUE(QDateTime::fromString(speed.value(QStringLiteral("ts")).toString(), Qt::ISODateWithMs).isValid());
    }

    // Refused writes never reach the PLC and change nothing.
    const char* const readOnly = "is read-only; the configuration marks a tag writable: true\",\"ok\":false}";
    const struct {
        const char* tag;
        const char* payload;
        QByteArray result;
    } refusals[] = {
        {"press1/speed", "5", QByteArray("{\"error\":\"tag speed ") + readOnly},
        {"press1/nosuch", "5", R"({"error":"line press1 has no tag \"nosuch\"","ok":false})"},
        {"nowhere/speed", "5", R"({"error":"no line \"nowhere\" in this gateway","ok":false})"},
        {"press1/setpoint", "true", R"({"error":"tag setpoint (float): a float takes a number","ok":false})"},
        {"press1/lamp", "on",
         R"({"error":"the payload is not one JSON value; expected a JSON value such as 42, true, 3.5, \"0x00FF\" or [1, 2], or {\"value\": ..., \"id\": ...}","ok":false})"},
    };
    const quint64 writesBefore = writesReceived();
    for (const auto& row : refusals)
        EXPECT_EQ(set(QLatin1String(row.tag), row.payload), row.result) << row.tag;
#ifdef TAVRIN_GATEWAY_HTTP
    EXPECT_EQ(metricValue(httpPort, R"(tavrin_gateway_writes_total{result="refused"})"), double(std::size(refusals)));
#endif

    // A write left retained on the broker would be carried out again at
    // every reconnection: one that comes retained is refused, published so
    // while the gateway is connected or replayed to it when it connects.
    const QString setpoint = QStringLiteral("press1/setpoint");
    const QByteArray refused(R"({"error":"a retained write is refused: publish writes without retain","ok":false})");
    EXPECT_EQ(set(setpoint, "1.5", true), refused) << "published retained";

    // A clean stop tells the broker that nothing is vouched for.
    EXPECT_EQ(gateway.stop(), 0) << gateway.log().toStdString();
    {
        Subscriber after;
        after.start(broker.port, topic(QStringLiteral("#")));
        EXPECT_EQ(after.waitFor(topic(QStringLiteral("gateway/status")), anything), QByteArray("offline"));
        const QJsonValue stopped(QStringLiteral("the gateway stopped"));
        EXPECT_EQ(jsonObject(after.waitFor(topic(QStringLiteral("press1/status")), offline)).value(QStringLiteral("reason")), stopped);
        EXPECT_EQ(jsonObject(after.waitFor(topic(QStringLiteral("press1/speed")), isBad)).value(QStringLiteral("error")), stopped);
    }
    int from = subscriber.messages.size();
    gateway.start(configFile);
    EXPECT_EQ(subscriber.waitFor(topic(setpoint + QStringLiteral("/set/result")), anything, from), refused) << "replayed on connecting";
    EXPECT_EQ(set(setpoint, "", true), refused); // clears the retained write, itself refused
    EXPECT_EQ(writesReceived(), writesBefore);
    EXPECT_EQ(words(100, 1), QVector<quint32>{42});
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4050}));
    EXPECT_EQ(words(210, 2), (QVector<quint32>{0x5E00, 0xB2D0}));
    EXPECT_EQ(words(500, 3), (QVector<quint32>{1, 2, 3}));
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 1u);

    // A set changes PLC memory, gets its result and is read back.
    const struct {
        const char* tag;
        const char* payload;
        QJsonValue readBack;
        int firstWord;
        QVector<quint32> words; // expected in the PLC, by hand
    } sets[] = {
        {"setpoint", "12.5", 12.5, 300, {0x0000, 0x4148}},                            // 12.5 = 0x41480000
        {"energy", "{\"value\": 4000000000}", 4000000000.0, 210, {0x2800, 0xEE6B}}, // 0xEE6B2800
        {"mask", "\"0xBEEF\"", QStringLiteral("0xBEEF"), 400, {0xBEEF}},
        {"recipe", "[7, -1, 9]", QJsonArray{7, -1, 9}, 500, {7, 0xFFFF, 9}},
    };
    for (const auto& row : sets) {
        const QString tag = QStringLiteral("press1/%1").arg(QLatin1String(row.tag));
        from = subscriber.messages.size();
        const quint64 blockWritesBefore = press.plc.counters().writes;
        EXPECT_EQ(set(tag, row.payload), kOk) << row.tag;
        EXPECT_EQ(words(row.firstWord, row.words.size()), row.words) << row.tag;
        // A tag's values land together, in one scan of the PLC's program.
        EXPECT_EQ(press.plc.counters().writes - blockWritesBefore, 1u) << row.tag;
        EXPECT_FALSE(subscriber.waitFor(topic(tag), goodWith(row.readBack), from).isEmpty()) << row.tag;
    }
    EXPECT_EQ(set(QStringLiteral("press1/lamp"), R"({"value": false, "id": 17})"), QByteArray(R"({"id":17,"ok":true})"));
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 0u);

    // A PLC restart turns its tags bad, then good, while the other line goes on.
    const quint16 plcPort = press.tcp->port();
    press.tcp->close();
    const QJsonObject bad = jsonObject(subscriber.waitFor(topic(QStringLiteral("press1/speed")), isBad));
    EXPECT_TRUE(bad.value(QStringLiteral("value")).isNull());
    EXPECT_FALSE(bad.value(QStringLiteral("error")).toString().isEmpty());
    const QByteArray status = subscriber.waitFor(topic(QStringLiteral("press1/status")), offline);
    EXPECT_FALSE(jsonObject(status).value(QStringLiteral("reason")).toString().isEmpty()) << status.toStdString();
    // A write to the line that is away fails at once and says why.
    const QByteArray result = set(setpoint, "9");
    EXPECT_FALSE(jsonObject(result).value(QStringLiteral("ok")).toBool(true)) << result.toStdString();
    oven.plc.setValue(QStringLiteral("D"), 0, 190);
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(190)).isEmpty());
    press.plc.setValue(QStringLiteral("D"), 100, 4321); // what the PLC holds when it comes back
    from = subscriber.messages.size();
    ASSERT_TRUE(press.tcp->open(plcPort));
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(4321), from).isEmpty());
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/status")), online, from).isEmpty());
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4148})) << "a refused write reached the PLC late";

    // A broker restart is survived: the gateway polls on and publishes everything again.
    const quint16 brokerPort = broker.port;
    broker.stop();
    press.plc.setValue(QStringLiteral("D"), 100, 77); // while the broker is away
    const quint64 readsBefore = press.plc.counters().reads;
    EXPECT_TRUE(waitUntil([&] { return press.plc.counters().reads > readsBefore + 10; })) << "the gateway stopped polling";
    ASSERT_TRUE(broker.start(brokerPort));
    Subscriber fresh; // the restarted broker kept nothing
    fresh.start(brokerPort, topic(QStringLiteral("#")));
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("press1/speed")), goodWith(77)).isEmpty()) << gateway.log().toStdString();
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(190)).isEmpty());
    EXPECT_EQ(fresh.waitFor(topic(QStringLiteral("gateway/status")), anything), QByteArray("online"));
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("press1/status")), online).isEmpty());
    EXPECT_EQ(set(setpoint, "2"), kOk);
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4000})); // 2.0 = 0x40000000

    // The last will says offline when the gateway dies.
    from = fresh.messages.size();
    gateway.process.kill();
    gateway.process.waitForFinished();
    EXPECT_FALSE(fresh.waitFor(topic(QStringLiteral("gateway/status")), [](const QByteArray& p) { return p == "offline"; }, from).isEmpty());
}

// The file's mistakes themselves are the configuration reader's tests.
TEST(GatewayCommand, ABadConfigurationFileGivesAClearMessageAndStartsNothing)
{
    QTemporaryDir dir;
    const QString file = writeConfig(dir, QStringLiteral("mqtt: {prefix: p, url: mqtt://127.0.0.1:1}\nlines:\n"
                                                         "  - {name: a, port: tcp:127.0.0.1:1, tags: [{name: t, address: Q0}]}\n"));
    const QString output = runTool({QStringLiteral("gateway"), file});
    EXPECT_TRUE(output.startsWith(file + QStringLiteral(":3:64: address "))) << output.toStdString();
    EXPECT_TRUE(output.endsWith(QStringLiteral("tavrin gateway: 1 mistake in %1; nothing was started\nexit 2").arg(file)))
        << output.toStdString();
    EXPECT_TRUE(runTool({QStringLiteral("gateway"), QStringLiteral("/nonexistent.yaml")})
                    .startsWith(QStringLiteral("/nonexistent.yaml: cannot read the configuration: ")));
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
        QString text = QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: p}\nmodbus: {listen: \"127.0.0.1:%2\"}\n")
                           .arg(broker.serverPort())
                           .arg(row.modbus);
#ifdef TAVRIN_GATEWAY_HTTP
        text += QStringLiteral("http: {listen: \"127.0.0.1:%1\"}\n").arg(row.http);
#endif
        text += QStringLiteral("lines:\n  - {name: a, port: \"%1\", tags: [{name: t, address: D0, holding: 0}]}\n").arg(plc.port());
        const QString output = runTool({QStringLiteral("gateway"), writeConfig(dir, text)});
        EXPECT_TRUE(output.contains(QString::fromUtf8(row.message).arg(taken.serverPort()))) << row.face << "\n" << output.toStdString();
        EXPECT_TRUE(output.endsWith(QStringLiteral("exit 1"))) << row.face;
        EXPECT_FALSE(output.contains(QStringLiteral("connecting as"))) << row.face << ": the broker was tried";
        EXPECT_FALSE(output.contains(QStringLiteral("web page, API and metrics:"))) << row.face;
        EXPECT_FALSE(broker.waitForNewConnection(100)) << row.face << ": the broker was knocked at";
        EXPECT_EQ(plc.plc.counters().framesReceived, 0u) << row.face << ": a PLC was polled";
    }
}

} // namespace
