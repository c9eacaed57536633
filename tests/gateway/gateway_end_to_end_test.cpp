// `tavrin gateway` as a plant runs it: virtual PLCs on loopback TCP, a real
// mosquitto broker, the built tool's gateway with every face, and independent
// clients: mosquitto_sub and _pub, mbpoll (zero-based PDU addresses, -0), plain
// HTTP and headless chromium (none in a Qt 5 build: it has no web face).

#include "mqtt_parts.h"

#ifdef TAVRIN_GATEWAY_HTTP
#include "web_clients.h"
#endif

#include "history_store.h"

#include "support/qt_printers.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

// The press line: its tags, their Modbus addresses, and the JSON value each
// has in the memory PressGateway sets (its words worked out by hand), on a
// virtual PLC paced at the line's baud rate so that utilisation is a share
// of its time.
struct PressTag {
    const char* tag;
    const char* address; // with its count, if any
    const char* format;
    bool writable;
    const char* modbus;
    QJsonValue value;
};

inline const QVector<PressTag>& pressTags()
{
    static const QVector<PressTag> tags = {
        {"speed", "D100", "int16", false, "holding: 100", 42},
        {"flow", "D101", "uint16", false, "holding: 101", 65535},
        {"total", "D200", "int32", false, "input_register: 200", -100000},
        {"energy", "D210", "uint32", true, "holding: 210", 3000000000.0},
        {"setpoint", "D300", "float", true, "holding: 300", 3.25},
        {"mask", "D400", "hex", true, "holding: 400", QStringLiteral("0x00FF")},
        {"running", "M0", "bit", false, "discrete_input: 0", true},
        {"lamp", "Y7", "bit", true, "coil: 7", true},
        {"inputs", "X0, count: 8", "bit", false, "discrete_input: 10", QJsonArray{false, true, false, true, false, false, false, false}},
        {"batch", "32CV200", "int32", false, "input_register: 220", -5},
        {"ready", "D10.3", "bit", false, "discrete_input: 30", true},
        {"recipe", "D500, count: 3", "int16", true, "holding: 500", QJsonArray{1, 2, 3}},
        {"unmapped", "D600", "int16", true, "", 0},
    };
    return tags;
}

class PressGateway : public ::testing::Test {
protected:
    // Two ports free at once, so that the faces never get the same one.
    PressGateway()
    {
        QTcpServer modbus, http;
        modbus.listen(QHostAddress::LocalHost, 0);
        http.listen(QHostAddress::LocalHost, 0);
        modbusPort = modbus.serverPort();
        httpPort = http.serverPort();
        const struct {
            const char* name;
            int index;
            quint32 value;
        } memory[] = {
            {"D", 100, 42},       {"D", 101, 65535},
            {"D", 200, 0x7960},   {"D", 201, 0xFFFE}, // -100000 = 0xFFFE7960, low word first
            {"D", 210, 0x5E00},   {"D", 211, 0xB2D0}, // 3000000000 = 0xB2D05E00
            {"D", 300, 0x0000},   {"D", 301, 0x4050}, // 3.25 = 0x40500000
            {"D", 400, 0x00FF},   {"M", 0, 1},       {"Y", 7, 1}, {"X", 1, 1}, {"X", 3, 1},
            {"32CV", 0, 0xFFFFFFFB},                  // C200 = -5
            {"D", 10, 0x0008},                        // bit 3
            {"D", 500, 1},        {"D", 501, 2},     {"D", 502, 3},
        };
        for (const auto& cell : memory)
            press.plc.setValue(QLatin1String(cell.name), cell.index, cell.value);
    }

    // The gateway on a file of `sections`, its faces, the press line and `moreLines`.
    void startGateway(const QString& sections, const QString& moreLines = QString(), const QString& httpMore = QString())
    {
        QString text = sections + QStringLiteral("modbus: {listen: 127.0.0.1:%1, unit: 1}\n").arg(modbusPort);
#ifdef TAVRIN_GATEWAY_HTTP
        text += QStringLiteral("http: {listen: 127.0.0.1:%1%2}\n").arg(httpPort).arg(httpMore);
#else
        Q_UNUSED(httpMore)
#endif
        text += QStringLiteral("lines:\n  - name: press1\n    port: %1\n    baud: 115200\n    timeout_ms: 20\n    tags:\n").arg(press.port());
        for (const PressTag& row : pressTags()) {
            text += QStringLiteral("      - { name: %1, address: %2, format: %3, writable: %4%5 }\n")
                        .arg(QLatin1String(row.tag), QLatin1String(row.address), QLatin1String(row.format),
                             QLatin1String(row.writable ? "true" : "false"), *row.modbus ? QStringLiteral(", ") + QLatin1String(row.modbus) : QString());
        }
        configFile = writeConfig(dir, text + moreLines);
        gateway.start(configFile);
    }

    // The PLC's D registers from `first` on, as 16-bit words.
    QVector<quint32> words(int first, int count)
    {
        QVector<quint32> out;
        for (int k = first; k < first + count; ++k)
            out.append(press.plc.value(QStringLiteral("D"), k).value_or(0xFFFFFFFF));
        return out;
    }

    // Writes the PLC took or refused: none, when a refused write reached nothing.
    quint64 writesReceived()
    {
        const VirtualPlcCounters counters = press.plc.counters();
        return counters.writes + counters.forces + counters.refused;
    }

    QTemporaryDir dir;
    QString configFile;
    ServedPlc press{ServedOn::Tcp, VirtualPlcOptions(), [] {
        ServerOptions options;
        options.pacing.baudRate = 115200;
        return options;
    }()};
    quint16 modbusPort = 0;
    quint16 httpPort = 0;
    GatewayProcess gateway;
};

QString topic(const QString& rest)
{
    return QStringLiteral("plant1/") + rest;
}

Accept is(const char* key, const QJsonValue& value)
{
    return [=](const QByteArray& payload) { return jsonObject(payload).value(QLatin1String(key)) == value; };
}

Accept goodWith(const QJsonValue& value)
{
    return [value](const QByteArray& payload) { return is("quality", QStringLiteral("good"))(payload) && is("value", value)(payload); };
}

const auto isBad = is("quality", QStringLiteral("bad"));
const auto online = is("status", QStringLiteral("online"));
const auto offline = is("status", QStringLiteral("offline"));
const QByteArray kOk(R"({"ok":true})");
#ifdef TAVRIN_GATEWAY_HTTP
const QByteArray kRefused(R"(tavrin_gateway_writes_total{result="refused"})");
#endif

// mbpoll's two outputs, to its end; "exit N" last. `arguments` are its
// options, then after a "=" the values to write: "-t 4 -r 100 = 5 6".
QString runMbpoll(quint16 port, const QString& arguments, const QString& host = QStringLiteral("127.0.0.1"))
{
    const QString options = QStringLiteral("-m tcp -a 1 -0 -1 -o 5 -p %1 ").arg(port) + arguments.section(QLatin1Char('='), 0, 0);
    const QStringList values = arguments.section(QLatin1Char('='), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ChildProcess process;
    process.start(QStringLiteral("mbpoll"), options.split(QLatin1Char(' '), Qt::SkipEmptyParts) + QStringList{QStringLiteral("--"), host} + values);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()) + QStringLiteral("exit %1").arg(process.exitCode());
}

// mbpoll's "[100]: \t65531 (-5)" lines as "100=65531 (-5)", one "; " apart.
QString readings(const QString& output)
{
    QStringList values;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const int close = line.indexOf(QStringLiteral("]:"));
        if (line.startsWith(QLatin1Char('[')) && close > 0)
            values.append(line.mid(1, close - 1) + QLatin1Char('=') + line.mid(close + 2).trimmed());
    }
    return values.join(QStringLiteral("; "));
}

// Two PLC lines, a broker, a gateway (with its history store, when
// `stored`) and a subscriber to everything under the prefix.
class GatewayEndToEnd : public PressGateway {
protected:
    void SetUp() override
    {
        // The broker keeps a subscriber's session across its restart (run as
        // root, it would write its file as another user: it stays root).
        brokerSettings = QStringLiteral("persistence true\npersistence_location %1/\nuser root\n").arg(dir.path());
        ASSERT_TRUE(broker.start(0, brokerSettings)) << broker.process.readAll().toStdString();
        oven.plc.setValue(QStringLiteral("D"), 0, 180);
        const QString history = QStringLiteral("history: {path: \"%1\"}\n").arg(dir.filePath(QStringLiteral("history.db")));
        startGateway(QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: plant1, client_id: tavrin-test, forward_rate: 50}\n%2")
                         .arg(broker.port)
                         .arg(stored ? history : QString()),
                     QStringLiteral("  - {name: oven, port: \"%1\", baud: 115200, timeout_ms: 20, tags: [{name: temperature, address: D0}]}\n")
                         .arg(oven.port()));
        subscriber.start(broker.port, topic(QStringLiteral("#")));
        ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/status")), online).isEmpty()) << gateway.log();
        ASSERT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/status")), online).isEmpty());
    }

    // The one result of a set published now.
    QByteArray set(const QString& tag, const QByteArray& payload, bool retain = false)
    {
        const int from = subscriber.messages.size();
        EXPECT_TRUE(publish(broker.port, topic(tag + QStringLiteral("/set")), payload, retain));
        return subscriber.waitFor(topic(tag + QStringLiteral("/set/result")), anything, from);
    }

    QString mbpoll(const QString& arguments) { return runMbpoll(modbusPort, arguments); }

    bool stored = true;
    QString brokerSettings;
    Broker broker;
    ServedPlc oven{ServedOn::Tcp, VirtualPlcOptions()};
    Subscriber subscriber;
};

// One gateway start for the whole story, in the order a plant meets it.
TEST_F(GatewayEndToEnd, ServesThePlantOnEveryFaceThroughRefusalsRestartsAndItsEnd)
{
    // A new subscriber gets what the broker retained.
    Subscriber late;
    late.start(broker.port, topic(QStringLiteral("#")));
    for (const PressTag& row : pressTags()) {
        const QString tagTopic = topic(QStringLiteral("press1/%1").arg(QLatin1String(row.tag)));
        EXPECT_FALSE(late.waitFor(tagTopic, goodWith(row.value)).isEmpty()) << row.tag << ": " << late.latest(tagTopic).toStdString();
    }
    EXPECT_FALSE(late.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(180)).isEmpty());
    EXPECT_EQ(late.waitFor(topic(QStringLiteral("gateway/status")), anything), QByteArray("online"));

    // Modbus reads, as mbpoll prints them.
    const char* const reads[][2] = {
        {"-t 4 -r 100 -c 2", "100=42; 101=65535 (-1)"},            // int16, uint16: two tags in one read
        {"-t 3 -r 200 -c 2", "200=31072; 201=65534 (-2)"},         // int32, low word first
        {"-t 4:int -r 210", "210=-1294967296"},                    // uint32 3000000000, seen as signed
        {"-t 4:float -r 300", "300=3.25"},
        {"-t 4:hex -r 400", "400=0x00FF"},
        {"-t 1 -r 0", "0=1"},                                      // a bit of M
        {"-t 0 -r 7", "7=1"},                                      // a bit of Y
        {"-t 1 -r 10 -c 8", "10=0; 11=1; 12=0; 13=1; 14=0; 15=0; 16=0; 17=0"},
        {"-t 3:int -r 220", "220=-5"},                             // a 32-bit counter
        {"-t 1 -r 30", "30=1"},                                    // a bit of a D word
        {"-t 4 -r 500 -c 3", "500=1; 501=2; 502=3"},
        {"-t 3 -r 30", ""},                                        // no input register there, a discrete input is
    };
    for (const auto& row : reads) {
        const QString output = mbpoll(QLatin1String(row[0]));
        EXPECT_EQ(readings(output), QLatin1String(row[1])) << output.toStdString();
    }

#ifdef TAVRIN_GATEWAY_HTTP
    // The API gives tags and lines as JSON.
    const HttpReply tags = httpRequest(httpPort, "GET", "/api/tags");
    EXPECT_TRUE(tags.headers.contains("Content-Type: application/json")) << tags.headers.toStdString();
    const QJsonArray array = QJsonDocument::fromJson(tags.body).array();
    ASSERT_EQ(array.size(), pressTags().size() + 1) << tags.body.toStdString();
    for (int k = 0; k < pressTags().size(); ++k) {
        const QJsonObject tag = array.at(k).toObject();
        const PressTag& row = pressTags().at(k);
        const auto field = [&](const char* key) { return tag.value(QLatin1String(key)).toVariant().toString(); };
        EXPECT_EQ(QStringList({field("line"), field("tag"), field("address"), field("format"), field("writable"), field("quality")}),
                  QStringList({QStringLiteral("press1"), QLatin1String(row.tag), QString::fromLatin1(row.address).section(QLatin1Char(','), 0, 0),
                               QLatin1String(row.format), QLatin1String(row.writable ? "true" : "false"), QStringLiteral("good")}));
        EXPECT_EQ(tag.value(QStringLiteral("value")), row.value) << row.tag;
        EXPECT_TRUE(QDateTime::fromString(field("ts"), Qt::ISODateWithMs).isValid());
    }
    const QJsonObject line = QJsonDocument::fromJson(httpRequest(httpPort, "GET", "/api/lines").body).array().at(0).toObject();
    EXPECT_EQ(line.value(QStringLiteral("line")).toString(), QStringLiteral("press1"));
    EXPECT_EQ(line.value(QStringLiteral("port")).toString(), press.port());
    EXPECT_EQ(line.value(QStringLiteral("status")).toString(), QStringLiteral("online"));
    EXPECT_GT(line.value(QStringLiteral("frames_sent")).toDouble(), 0);
    const double utilisation = line.value(QStringLiteral("utilisation")).toDouble(-1);
    EXPECT_TRUE(utilisation > 0 && utilisation <= 1) << utilisation;
#endif

    // Refused writes on every face never reach the PLC and change nothing.
    const quint64 writesBefore = writesReceived();
    const char* const mqtt[][3] = {
        {"press1/speed", "5", R"({"error":"tag speed is read-only; the configuration marks a tag writable: true","ok":false})"},
        {"press1/nosuch", "5", R"({"error":"line press1 has no tag \"nosuch\"","ok":false})"},
        {"nowhere/speed", "5", R"({"error":"no line \"nowhere\" in this gateway","ok":false})"},
        {"press1/lamp", "on",
         R"({"error":"the payload is not one JSON value; expected a JSON value such as 42, true, 3.5, \"0x00FF\" or [1, 2], or {\"value\": ..., \"id\": ...}","ok":false})"},
    };
    for (const auto& row : mqtt)
        EXPECT_EQ(set(QLatin1String(row[0]), row[1]), QByteArray(row[2])) << row[0];

    // Modbus: illegal data address.
    const char* const modbus[] = {
        "-t 4 -r 100 = 5",          // a read-only tag
        "-t 4 -r 999 = 5",          // no tag there
        "-t 4 -r 600 = 5",          // a writable tag the file maps nowhere
        "-t 0 -r 8 = 1",            // no coil there
        "-t 4 -r 301 = 5",          // half of a float
        "-t 4 -r 210 = 1",          // the low half of a uint32
        "-t 4 -r 400 = 1 2",        // a writable tag, then a register no tag holds
        "-t 4 -r 101 = 1 2 3",      // a read-only tag, then a writable one
    };
    for (const char* row : modbus) {
        const QString output = mbpoll(QLatin1String(row));
        EXPECT_TRUE(output.contains(QStringLiteral("Illegal data address"))) << row << "\n" << output.toStdString();
    }

    // Raw Modbus requests that are no reads or writes of a tag get their
    // exception (01 function, 02 address, 03 value); a header that is not
    // Modbus TCP's (protocol id, length) gets the connection closed.
    const struct {
        const char* what;
        QByteArray pdu;
        QByteArray answer;     // empty: the connection is closed, nothing answered
        int protocol = 0;      // the header's protocol id
        int lengthError = 0;   // added to the header's length
    } odds[] = {
        {"mask write register (refused)", QByteArray::fromHex("16006400ff0000"), QByteArray::fromHex("9601")},
        {"read/write registers (refused)", QByteArray::fromHex("17006400010064000102002a"), QByteArray::fromHex("9701")},
        {"diagnostics, a serial line's function", QByteArray::fromHex("0800000000"), QByteArray::fromHex("8801")},
        {"zero registers", QByteArray::fromHex("0300640000"), QByteArray::fromHex("8303")},
        {"126 registers", QByteArray::fromHex("030064007e"), QByteArray::fromHex("8303")},
        {"a coil value not 0000 or FF00 (refused)", QByteArray::fromHex("0500070001"), QByteArray::fromHex("8503")},
        {"a byte count that does not match (refused)", QByteArray::fromHex("10012c0002020000"), QByteArray::fromHex("9003")},
        {"the last address", QByteArray::fromHex("03ffff0001"), QByteArray::fromHex("8302")},
        {"protocol id 1", QByteArray::fromHex("0300640001"), QByteArray(), 1},
        {"a length a byte short of the read", QByteArray::fromHex("0300640001"), QByteArray(), 0, -1},
        {"a length that counts a byte past the read", QByteArray::fromHex("030064000100"), QByteArray()},
        {"a length of 0", QByteArray::fromHex("0300640001"), QByteArray(), 0, -6},
        {"a write whose length leaves out its values", QByteArray::fromHex("10012c000204"), QByteArray()},
        {"a read of holding registers", QByteArray::fromHex("0300640001"), QByteArray::fromHex("0302002a")},
    };
    int transaction = 0;
    for (const auto& row : odds) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, modbusPort);
        ASSERT_TRUE(socket.waitForConnected(10000));
        // Transaction, protocol and length, two bytes each, then unit 1.
        const QString header = QStringLiteral("%1%2%3").arg(++transaction, 4, 16, QLatin1Char('0')).arg(row.protocol, 4, 16, QLatin1Char('0'))
                                   .arg(int(row.pdu.size()) + 1 + row.lengthError, 4, 16, QLatin1Char('0'));
        socket.write(QByteArray::fromHex(header.toLatin1() + "01") + row.pdu);
        QByteArray reply;
        waitUntil([&] {
            socket.waitForReadyRead(10);
            reply += socket.readAll();
            return row.answer.isEmpty() ? socket.state() == QAbstractSocket::UnconnectedState : reply.size() >= 7 + row.answer.size();
        });
        EXPECT_EQ(reply.mid(7).toHex(), row.answer.toHex()) << row.what;
        EXPECT_TRUE(!row.answer.isEmpty() || socket.state() == QAbstractSocket::UnconnectedState) << row.what << ": not closed";
    }

#ifdef TAVRIN_GATEWAY_HTTP
    // The API's answers, and an odd request's; none stops the server (under
    // AddressSanitizer, none reads or writes memory it should not).
    const QByteArray json = "Content-Type: application/json";
    const struct {
        QByteArray path;
        QList<QByteArray> headers;
        int status;
        const char* answer;
    } posts[] = {
        {"/api/tags/press1/speed", {json}, 400, R"({"error":"tag speed is read-only; the configuration marks a tag writable: true","ok":false})"},
        {"/api/tags/press1/nosuch", {json}, 404, R"({"error":"no tag press1/nosuch in this gateway"})"},
        {"/api/tags/press1/setpoint", {"Content-Type: text/plain"}, 415, R"({"error":"a write is JSON: send it with Content-Type: application/json"})"},
        {"/api/tags/press1/setpoint", {json, "Origin: http://192.0.2.66"}, 403, R"({"error":"a write from another site's page is refused"})"},
    };
    for (const auto& row : posts) {
        const HttpReply reply = httpRequest(httpPort, "POST", row.path, row.headers, "5");
        EXPECT_EQ(reply.status, row.status) << row.answer;
        EXPECT_EQ(reply.body, QByteArray(row.answer));
    }
    EXPECT_EQ(metricValue(httpPort, kRefused), double(std::size(mqtt) + std::size(modbus) + 4 + std::size(posts)));
    EXPECT_EQ(metricValue(httpPort, R"(tavrin_gateway_writes_total{result="done"})"), 0);

    const QByteArray host = "Host: 127.0.0.1\r\nConnection: close\r\n";
    const QByteArray body = "Content-Type: application/json\r\n";
    const struct {
        const char* what;
        QByteArray bytes;
        int status;             // 0: closed without an answer
        bool thenClose = false; // the client stops sending halfway
        const char* header = ""; // a header line of the answer
    } http[] = {
        {"a write's path read", "GET /api/tags/press1/setpoint HTTP/1.1\r\n" + host + "\r\n", 405, false, "Allow: POST"},
        {"another method", "DELETE /api/tags HTTP/1.1\r\n" + host + "\r\n", 405, false, "Allow: GET"},
        {"the page's head", "HEAD / HTTP/1.1\r\n" + host + "\r\n", 405, false, "Allow: GET"},
        {"a write with PUT", "PUT /api/tags/press1/setpoint HTTP/1.1\r\n" + host + body + "Content-Length: 1\r\n\r\n5", 405, false, "Allow: POST"},
        {"a path too deep", "POST /api/tags/press1/setpoint/x HTTP/1.1\r\n" + host + body + "Content-Length: 1\r\n\r\n5", 404},
        {"dots in a name", "POST /api/tags/%2e%2e/setpoint HTTP/1.1\r\n" + host + body + "Content-Length: 1\r\n\r\n5", 404},
        {"a long path", "GET /" + QByteArray(8000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", 404},
        {"a long path of the API", "GET /api/tags/" + QByteArray(8000, 'a') + "/b HTTP/1.1\r\n" + host + "\r\n", 405},
        {"deeply nested JSON", "POST /api/tags/press1/setpoint HTTP/1.1\r\n" + host + body + "Content-Length: 20000\r\n\r\n"
                                   + QByteArray(10000, '[') + QByteArray(10000, ']'), 400},
        {"a body cut short", "POST /api/tags/press1/setpoint HTTP/1.1\r\n" + host + body + "Content-Length: 50\r\n\r\n1.5", 0, true},
        {"not HTTP", QByteArray("\x16\x03\x01\x00\xff\x01\x00\x00\r\n\r\n", 12), 0},
    };
    for (const auto& row : http) {
        const HttpReply reply = httpExchange(httpPort, row.bytes, row.thenClose);
        // A parser may well answer what it cannot read with 400 rather than close.
        EXPECT_TRUE(reply.status == row.status || (row.status == 0 && reply.status == 400)) << row.what << ": " << reply.status;
        EXPECT_TRUE(reply.headers.contains(row.header)) << row.what << "\n" << reply.headers.toStdString();
        EXPECT_LT(reply.body.size(), 512) << row.what << ": an answer quotes no long path";
        EXPECT_EQ(httpRequest(httpPort, "GET", "/api/lines").status, 200) << "after " << row.what;
    }
#endif
    EXPECT_EQ(writesReceived(), writesBefore);
    EXPECT_EQ(words(100, 2), (QVector<quint32>{42, 65535}));
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4050}));

    // A retained write would be carried out again at every reconnection: it is
    // refused, live or replayed. On the way, a clean stop says nothing is vouched for.
    const QString setpoint = QStringLiteral("press1/setpoint");
    const QByteArray refused(R"({"error":"a retained write is refused: publish writes without retain","ok":false})");
    EXPECT_EQ(set(setpoint, "1.5", true), refused) << "published retained";
    EXPECT_EQ(gateway.stop(), 0) << gateway.log();
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
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4050}));

    // A write on any face changes PLC memory, in one scan of its program, is
    // answered once the PLC acknowledged it, and is read back.
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
        const int from = subscriber.messages.size();
        const quint64 blockWritesBefore = press.plc.counters().writes;
        EXPECT_EQ(set(tag, row.payload), kOk) << row.tag;
        EXPECT_EQ(words(row.firstWord, row.words.size()), row.words) << row.tag;
        EXPECT_EQ(press.plc.counters().writes - blockWritesBefore, 1u) << row.tag;
        EXPECT_FALSE(subscriber.waitFor(topic(tag), goodWith(row.readBack), from).isEmpty()) << row.tag;
    }
    EXPECT_EQ(set(QStringLiteral("press1/lamp"), R"({"value": false, "id": 17})"), QByteArray(R"({"id":17,"ok":true})"));
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 0u);

    const struct {
        const char* arguments;
        int firstWord;
        QVector<quint32> words; // expected in the PLC, by hand
    } writes[] = {
        {"-t 4:float -r 300 = 2.5", 300, {0x0000, 0x4020}}, // 0x40200000, low word first
        {"-t 4 -r 210 = 5 6", 210, {5, 6}},
        {"-t 4 -r 400 = 4660", 400, {0x1234}},
        {"-t 4 -r 501 = 2", 500, {7, 2, 9}},                // one value of an array
        {"-t 4 -r 500 = 4 5 6", 500, {4, 5, 6}},
    };
    for (const auto& row : writes) {
        const quint64 blockWritesBefore = press.plc.counters().writes;
        const QString output = mbpoll(QLatin1String(row.arguments));
        EXPECT_TRUE(output.contains(QStringLiteral("Written"))) << output.toStdString();
        EXPECT_EQ(words(row.firstWord, row.words.size()), row.words) << row.arguments;
        EXPECT_EQ(press.plc.counters().writes - blockWritesBefore, 1u) << row.arguments;
    }
    EXPECT_TRUE(mbpoll(QStringLiteral("-t 0 -r 7 = 1")).contains(QStringLiteral("Written")));
    EXPECT_EQ(press.plc.value(QStringLiteral("Y"), 7), 1u);
    EXPECT_TRUE(waitUntil([&] { return readings(mbpoll(QStringLiteral("-t 4:float -r 300"))) == QLatin1String("300=2.5"); }));

#ifdef TAVRIN_GATEWAY_HTTP
    const HttpReply reply = httpRequest(httpPort, "POST", "/api/tags/press1/setpoint", {"Content-Type: application/json"}, "{\"value\": 7.5, \"id\": 3}");
    EXPECT_EQ(reply.body, QByteArray(R"({"id":3,"ok":true})"));
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x40F0})); // 7.5 = 0x40F00000

    // The metrics count what was done ("name{labels} value" lines).
    const HttpReply metrics = httpRequest(httpPort, "GET", "/metrics");
    EXPECT_TRUE(metrics.headers.contains("Content-Type: text/plain; version=0.0.4")) << metrics.headers.toStdString();
    QHash<QByteArray, double> samples;
    for (const QByteArray& text : metrics.body.split('\n'))
        samples.insert(text.left(text.lastIndexOf(' ')), text.mid(text.lastIndexOf(' ') + 1).toDouble());
    const struct {
        const char* sample;
        double value; // -2: any count above 0
    } expected[] = {
        {"tavrin_line_online{line=\"press1\"}", 1},           {"tavrin_line_good_replies_total{line=\"press1\"}", -2},
        {"tavrin_line_retries_total{line=\"press1\"}", 0},    {"tavrin_line_give_ups_total{line=\"press1\"}", 0},
        {"tavrin_gateway_tags{quality=\"good\"}", 14},        {"tavrin_gateway_tags{quality=\"bad\"}", 0},
        {"tavrin_gateway_writes_total{result=\"done\"}", 12}, {"tavrin_gateway_writes_total{result=\"failed\"}", 0},
    };
    for (const auto& row : expected) {
        const double value = samples.value(row.sample, -1);
        EXPECT_TRUE(row.value == -2 ? value > 0 : value == row.value) << row.sample << " " << value;
    }
    const double ratio = samples.value("tavrin_line_utilisation_ratio{line=\"press1\"}", -1);
    EXPECT_TRUE(ratio > 0 && ratio <= 1) << ratio;
#endif

    // The page shows PLC values and follows changes live, without a reload; it
    // writes as a person types and clicks; a trend draws what the PLC held from
    // the history store and grows live.
#ifdef TAVRIN_GATEWAY_HTTP
    HeadlessBrowser browser;
    QString error;
    ASSERT_TRUE(browser.open(QStringLiteral("http://127.0.0.1:%1/").arg(httpPort), &error)) << error.toStdString();
    const auto shown = [](const char* tag, const char* part) {
        return QStringLiteral("document.querySelector('[data-tag=\"press1/%1\"] .%2')?.textContent").arg(QLatin1String(tag), QLatin1String(part));
    };
    const auto showsText = [&](const QString& expression, const QString& text) { return browser.waitFor(expression, text) == QJsonValue(text); };
    const auto setSpeed = [&](int value) { press.plc.setValue(QStringLiteral("D"), 100, quint32(value)); };
    const char* const onPage[][2] = {
        {"speed", "42"}, {"total", "-100000"}, {"setpoint", "7.5"}, {"mask", "0x1234"},
        {"lamp", "true"}, {"inputs", "[false,true,false,true,false,false,false,false]"},
    };
    for (const auto& row : onPage)
        EXPECT_TRUE(showsText(shown(row[0], "value"), QLatin1String(row[1]))) << row[0];
    EXPECT_EQ(browser.evaluate(shown("speed", "quality")), QJsonValue(QStringLiteral("good")));
    EXPECT_TRUE(showsText(QStringLiteral("document.querySelector('[data-line=\"press1\"] .status')?.textContent"), QStringLiteral("online")));
    browser.evaluate(QStringLiteral("window.stillTheSamePage = true"));
    for (const int speed : {10, 20}) {
        setSpeed(speed);
        EXPECT_TRUE(showsText(shown("speed", "value"), QString::number(speed)));
    }
    EXPECT_EQ(browser.evaluate(QStringLiteral("window.stillTheSamePage === true")), QJsonValue(true));

    browser.evaluate(QStringLiteral("(() => { const row = document.querySelector('[data-tag=\"press1/setpoint\"]');"
                                    " row.querySelector('.write input').value = '12.5';"
                                    " row.querySelector('.write button').click(); return true; })()"));
    EXPECT_TRUE(showsText(shown("setpoint", "result"), QStringLiteral("written")));
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4148})); // 12.5 = 0x41480000
    EXPECT_TRUE(showsText(shown("setpoint", "value"), QStringLiteral("12.5")));

    // The trend of speed (42, 10, 20: its axis reaches down to 10).
    browser.evaluate(QStringLiteral("location.assign('/?trend=press1/speed')"));
    const QString points = QStringLiteral("Number(document.getElementById('trend')?.dataset.points || 0)");
    const QString lowest = QStringLiteral("document.querySelectorAll('#trend-chart text')[1]?.textContent");
    EXPECT_EQ(browser.waitFor(points + QStringLiteral(" >= 3"), true), QJsonValue(true)) << gateway.log();
    EXPECT_EQ(browser.evaluate(QStringLiteral("document.getElementById('trend-name').textContent")), QJsonValue(QStringLiteral("press1/speed")));
    EXPECT_EQ(browser.evaluate(QStringLiteral("document.querySelector('#trend-chart path.line') !== null")), QJsonValue(true));
    EXPECT_TRUE(showsText(lowest, QStringLiteral("10")));
    const double before = browser.evaluate(points).toDouble();
    setSpeed(5);
    EXPECT_EQ(browser.waitFor(QStringLiteral("%1 > %2").arg(points).arg(before), true), QJsonValue(true));
    EXPECT_TRUE(showsText(lowest, QStringLiteral("5")));
    browser.evaluate(QStringLiteral("location.assign('/')"));
#endif

    // A PLC restart turns its tags bad on every face, then good, while the other line goes on.
    const QVector<quint32> setpointBefore = words(300, 2); // the last write the faces made
    const quint16 plcPort = press.tcp->port();
    press.tcp->close();
    const QJsonObject bad = jsonObject(subscriber.waitFor(topic(QStringLiteral("press1/speed")), isBad));
    EXPECT_TRUE(bad.value(QStringLiteral("value")).isNull());
    EXPECT_FALSE(bad.value(QStringLiteral("error")).toString().isEmpty());
    const QByteArray status = subscriber.waitFor(topic(QStringLiteral("press1/status")), offline);
    EXPECT_FALSE(jsonObject(status).value(QStringLiteral("reason")).toString().isEmpty()) << status.toStdString();
#ifdef TAVRIN_GATEWAY_HTTP
    EXPECT_EQ(browser.waitFor(shown("speed", "quality") + QStringLiteral(".startsWith('bad: ')"), true), QJsonValue(true));
    EXPECT_EQ(browser.evaluate(shown("speed", "value")), QJsonValue(QString()));
#endif
    // A write to the line that is away fails at once and says why.
    const QByteArray result = set(QStringLiteral("press1/setpoint"), "9");
    EXPECT_FALSE(jsonObject(result).value(QStringLiteral("ok")).toBool(true)) << result.toStdString();
    oven.plc.setValue(QStringLiteral("D"), 0, 190);
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("oven/temperature")), goodWith(190)).isEmpty());
    press.plc.setValue(QStringLiteral("D"), 100, 4321); // what the PLC holds when it comes back
    from = subscriber.messages.size();
    ASSERT_TRUE(press.tcp->open(plcPort));
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/speed")), goodWith(4321), from).isEmpty());
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press1/status")), online, from).isEmpty());
    EXPECT_EQ(words(300, 2), setpointBefore) << "a refused write reached the PLC late";

    // Modbus has no quality: a tag the gateway does not vouch for is no answer,
    // and a write the PLC did not acknowledge (it carries it out, every reply of
    // it turns NAK) is a failure, never a success.
    press.plc.queueFault(FaultKind::Nak, 1000000);
    EXPECT_TRUE(waitUntil([&] { return mbpoll(QStringLiteral("-t 4 -r 100")).contains(QStringLiteral("Slave device or server failure")); }))
        << "an old value was served for a tag the PLC no longer answers";
    const QString write = mbpoll(QStringLiteral("-t 4:float -r 300 = 9.5"));
    EXPECT_TRUE(write.contains(QStringLiteral("Slave device or server failure"))) << write.toStdString();

    // The last will says offline when the gateway dies.
    from = subscriber.messages.size();
    gateway.process.kill();
    const Accept saysOffline = [](const QByteArray& payload) { return payload == "offline"; };
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("gateway/status")), saysOffline, from).isEmpty());
}

// Store and forward: the broker goes away, the PLC's values change, the gateway
// restarts mid-outage, the broker comes back. A kept session gets every change
// on .../history, in order, with its time from the history file; the retained
// value ends at the newest. Without history: changes wait in memory, and a
// restart is not part of the outage.
class StoreAndForward : public GatewayEndToEnd, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        stored = GetParam();
        GatewayEndToEnd::SetUp();
    }

    // Sets D100 and waits until the gateway kept the change; its time (none
    // without a history file: then until the gateway read every block a few times).
    QString change(int value)
    {
        const quint64 readsBefore = press.plc.counters().reads;
        press.plc.setValue(QStringLiteral("D"), 100, quint32(value));
        if (!stored) {
            waitUntil([&] { return press.plc.counters().reads > readsBefore + 40; });
            return QStringLiteral("not known");
        }
        QString ts;
        waitUntil([&] {
            HistoryStore store;
            QString error;
            if (!store.open(dir.filePath(QStringLiteral("history.db")), &error))
                return false;
            for (const HistoryChange& kept : store.range(QStringLiteral("press1"), QStringLiteral("speed"), 0, INT64_MAX, -1)) {
                if (kept.number == double(value))
                    ts = QDateTime::fromMSecsSinceEpoch(kept.tsMs, Qt::UTC).toString(Qt::ISODateWithMs);
            }
            return !ts.isEmpty();
        }, 20000);
        return ts;
    }
};

TEST_P(StoreAndForward, EveryChangeOfAnOutageArrivesInOrderWithItsTime)
{
    // Subscribed, with a kept session, once a message of its own comes back.
    Subscriber forwarded;
    forwarded.start(broker.port, topic(QStringLiteral("+/+/history")), {QStringLiteral("-c"), QStringLiteral("-i"), QStringLiteral("history-test")});
    const QString probe = topic(QStringLiteral("probe/probe/history"));
    ASSERT_TRUE(waitUntil([&] { return publish(broker.port, probe, "{}") && !forwarded.waitFor(probe, anything, 0, 500).isEmpty(); }));
    const quint16 port = broker.port;
    broker.stop();
    QVector<QPair<int, QString>> changes; // value, ts
    for (int value : {100, 101, 102, -1, 103, 104}) {
        if (value >= 0) {
            changes.append({value, change(value)});
            ASSERT_FALSE(changes.last().second.isEmpty()) << value << ": " << gateway.log();
        } else if (stored) {
            ASSERT_EQ(gateway.stop(), 0) << gateway.log();
            gateway.start(configFile);
        }
    }
    ASSERT_TRUE(broker.start(port, brokerSettings));

    const QString history = topic(QStringLiteral("press1/speed/history"));
    ASSERT_FALSE(forwarded.waitFor(history, is("value", 104), 0, 60000).isEmpty()) << gateway.log();
    // In order, each with its own time; the gateway's restart adds its own
    // changes (bad while stopping, the first read after), never takes one.
    int at = 0;
    for (const auto& expected : changes) {
        while (at < forwarded.messages.size() && !(forwarded.messages.at(at).first == history && is("value", expected.first)(forwarded.messages.at(at).second)))
            ++at;
        ASSERT_LT(at, forwarded.messages.size()) << "missing or out of order: " << expected.first;
        if (stored) {
            EXPECT_EQ(jsonObject(forwarded.messages.at(at).second).value(QStringLiteral("ts")).toString(), expected.second);
        }
    }
    Subscriber late;
    late.start(port, topic(QStringLiteral("#")));
    EXPECT_FALSE(late.waitFor(topic(QStringLiteral("press1/speed")), goodWith(104)).isEmpty());
    EXPECT_EQ(late.waitFor(topic(QStringLiteral("gateway/status")), anything), QByteArray("online"));
    EXPECT_EQ(set(QStringLiteral("press1/setpoint"), "2"), kOk);
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4000})); // 2.0 = 0x40000000
#ifdef TAVRIN_GATEWAY_HTTP
    // Forwarded to its end; the history API serves what the store holds (the page's trend draws from it).
    EXPECT_TRUE(waitUntil([&] { return metricValue(httpPort, "tavrin_gateway_mqtt_backlog_messages") == 0; }, 20000));
    EXPECT_EQ(httpRequest(httpPort, "GET", "/api/history?line=press1&tag=speed").status, stored ? 200 : 503);
#endif
}

INSTANTIATE_TEST_SUITE_P(Kept, StoreAndForward, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "InTheHistoryStore" : "InMemory"); });

// A bad file, or a listening address already taken, is found before anything
// starts: the gateway says where and exits, having polled no PLC and knocked
// at no broker (a listener stands in for one). The file's mistakes themselves
// are the configuration reader's tests.
TEST(GatewayCommand, ABadFileOrAListeningPortInUseStartsNothing)
{
    QTcpServer taken, broker;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0) && broker.listen(QHostAddress::LocalHost, 0));
    ServedPlc plc(ServedOn::Tcp, VirtualPlcOptions());
    const QString mqtt = QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: p}\n").arg(broker.serverPort());
    const QString line = QStringLiteral("lines:\n  - {name: a, tags: [{name: t, address: %2, holding: 0}], port: \"%1\"}\n");
    const QString modbus = QStringLiteral("modbus: {listen: \"127.0.0.1:%1\"}\n");
    const struct {
        QString text;
        QString message;
        const char* end;
    } rows[] = {
        {mqtt + line.arg(plc.port(), QStringLiteral("Q0")), QStringLiteral("gateway.yaml:3:41: address "), "; nothing was started\nexit 2"},
        {mqtt + modbus.arg(taken.serverPort()) + line.arg(plc.port(), QStringLiteral("D0")),
         QStringLiteral("tavrin gateway: Modbus server on 127.0.0.1:%1: ").arg(taken.serverPort()), "exit 1"},
#ifdef TAVRIN_GATEWAY_HTTP
        {mqtt + modbus.arg(freeLoopbackPort()) + QStringLiteral("http: {listen: \"127.0.0.1:%1\"}\n").arg(taken.serverPort()) + line.arg(plc.port(), QStringLiteral("D0")),
         QStringLiteral("tavrin gateway: web page on 127.0.0.1:%1: ").arg(taken.serverPort()), "exit 1"},
#endif
    };
    for (const auto& row : rows) {
        QTemporaryDir dir;
        const QString output = runTool({QStringLiteral("gateway"), writeConfig(dir, row.text)});
        EXPECT_TRUE(output.contains(row.message)) << output.toStdString();
        EXPECT_TRUE(output.endsWith(QLatin1String(row.end))) << output.toStdString();
        EXPECT_FALSE(output.contains(QStringLiteral("connecting as"))) << output.toStdString();
        EXPECT_FALSE(broker.waitForNewConnection(100)) << output.toStdString() << ": the broker was knocked at";
        EXPECT_EQ(plc.plc.counters().framesReceived, 0u) << output.toStdString() << ": a PLC was polled";
    }
    EXPECT_TRUE(runTool({QStringLiteral("gateway"), QStringLiteral("/nonexistent.yaml")})
                    .startsWith(QStringLiteral("/nonexistent.yaml: cannot read the configuration: ")));
}

// Qt's server takes address and port as one text: an IPv6 address must reach it whole.
using ModbusFace = PressGateway;
using WebFace = PressGateway;

TEST_F(ModbusFace, ListensOnAnIpv6Address)
{
    gateway.start(writeConfig(dir, QStringLiteral("modbus: {listen: \"[::1]:%1\"}\nlines:\n  - {name: a, port: \"%2\", tags: [{name: t, address: D100, holding: 0}]}\n")
                                       .arg(modbusPort)
                                       .arg(press.port())));
    EXPECT_TRUE(waitUntil([&] { return readings(runMbpoll(modbusPort, QStringLiteral("-t 4 -r 0"), QStringLiteral("::1"))) == QLatin1String("0=42"); }, 30000))
        << gateway.log();
}

#ifdef TAVRIN_GATEWAY_HTTP
TEST_F(WebFace, ATokenGuardsTheApiTheFeedAndTheMetricsButNotThePage)
{
    const QByteArray token = "0123456789abcdef-test";
    const QByteArray bearer = "Authorization: Bearer " + token;
    startGateway(QString(), QString(), QStringLiteral(", token: ") + QLatin1String(token));
    ASSERT_TRUE(waitUntil([&] { return metricValue(httpPort, "tavrin_line_online{line=\"press1\"}", {bearer}) == 1; }, 30000)) << gateway.log();
    const struct {
        QByteArray method;
        QByteArray path;
        QList<QByteArray> headers;
        int status;
    } rows[] = {
        {"GET", "/", {}, 200},
        {"GET", "/api/tags", {}, 401},
        {"GET", "/api/tags", {"Authorization: Bearer wrong-token-000000"}, 401},
        {"GET", "/api/tags", {bearer}, 200},
        {"GET", "/api/tags", {"Authorization: bEARER   " + token}, 200}, // any case, 1 or more spaces
        {"GET", "/api/tags", {"Authorization: Basic " + token}, 401},
        {"GET", "/api/tags", {"Authorization: " + token}, 401},
        {"GET", "/api/lines", {}, 401},
        {"GET", "/metrics", {}, 401},
        {"POST", "/api/tags/press1/setpoint", {"Content-Type: application/json"}, 401},
    };
    for (const auto& row : rows)
        EXPECT_EQ(httpRequest(httpPort, row.method, row.path, row.headers, "1").status, row.status) << row.method.constData() << " " << row.path.constData();
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4050}));
    EXPECT_EQ(metricValue(httpPort, kRefused, {bearer}), 1); // the write without it

    // The feed speaks once it heard the token.
    for (const QByteArray& sent : {QByteArray("wrong-token-000000"), token}) {
        QWebSocket feed;
        QList<QJsonObject> messages;
        QObject::connect(&feed, &QWebSocket::textMessageReceived, [&](const QString& text) { messages.append(jsonObject(text.toUtf8())); });
        feed.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(httpPort)));
        ASSERT_TRUE(waitWithEvents([&] { return feed.state() == QAbstractSocket::ConnectedState; }));
        feed.sendTextMessage(QStringLiteral("{\"token\": \"%1\"}").arg(QLatin1String(sent)));
        ASSERT_TRUE(waitWithEvents([&] { return !messages.isEmpty(); })) << sent.constData();
        if (sent == token) {
            EXPECT_EQ(messages.first().value(QStringLiteral("tags")).toArray().size(), 13);
        } else {
            EXPECT_EQ(messages.first().value(QStringLiteral("error")).toString(), QStringLiteral("this gateway needs its access token"));
            EXPECT_TRUE(waitWithEvents([&] { return feed.state() == QAbstractSocket::UnconnectedState; }));
        }
    }
}
#endif

} // namespace
