// The gateway's web face as people and monitoring meet it: a virtual PLC
// with known memory on loopback TCP, the built tool's gateway, Debian's
// headless chromium on the live page, and plain HTTP requests for the API
// and the metrics. A Qt 5 build has no web face, and these tests with it.

#ifdef TAVRIN_GATEWAY_HTTP

#include "headless_browser.h"
#include "http_get.h"
#include "press_gateway.h"

#include "support/qt_printers.h"

#include <QRegularExpression>

namespace {

const char* const kToken = "0123456789abcdef-test";

QJsonArray jsonArray(const QByteArray& body)
{
    return QJsonDocument::fromJson(body).array();
}

class WebFaceEndToEnd : public PressGateway {
protected:
    // The gateway with the web face, with `token` when one is given; true once its tags are good.
    bool startWeb(const QString& token = QString())
    {
        startGateway(QString(), QString(), token);
        port = httpPort;
        return waitUntil([&] {
            const QJsonArray tags = jsonArray(httpRequest(port, "GET", "/api/tags", {"Authorization: Bearer " + QByteArray(kToken)}).body);
            return !tags.isEmpty() && std::all_of(tags.begin(), tags.end(), [](const QJsonValue& tag) {
                return tag.toObject().value(QStringLiteral("quality")).toString() == QLatin1String("good");
            });
        }, 30000);
    }

    quint16 port = 0;
};

// One gateway start and one browser for the whole story, so that chromium
// starts once: the API, writes through it, the metrics they leave, odd
// requests, then the page.
TEST_F(WebFaceEndToEnd, ServesTheApiMetricsAndThePageThroughWritesAndOddRequests)
{
    ASSERT_TRUE(startWeb()) << gateway.log().toStdString();
    // The API gives tags and lines as JSON.
    const HttpReply tags = httpRequest(port, "GET", "/api/tags");
    EXPECT_EQ(tags.status, 200);
    EXPECT_TRUE(tags.headers.contains("Content-Type: application/json")) << tags.headers.toStdString();
    QJsonParseError parseError;
    const QJsonArray array = QJsonDocument::fromJson(tags.body, &parseError).array();
    ASSERT_EQ(parseError.error, QJsonParseError::NoError) << tags.body.toStdString();
    ASSERT_EQ(array.size(), pressTags().size());
    for (int k = 0; k < array.size(); ++k) {
        const QJsonObject tag = array.at(k).toObject();
        const PressTag& row = pressTags().at(k);
        const auto field = [&](const char* key) { return tag.value(QLatin1String(key)).toVariant().toString(); };
        EXPECT_EQ(QStringList({field("line"), field("tag"), field("address"), field("format"), field("writable"), field("quality")}),
                  QStringList({QStringLiteral("press1"), QLatin1String(row.tag), QLatin1String(row.address), QLatin1String(row.format),
                               QLatin1String(row.writable ? "true" : "false"), QStringLiteral("good")}));
        EXPECT_EQ(tag.value(QStringLiteral("value")), row.value) << row.tag;
        EXPECT_TRUE(QDateTime::fromString(field("ts"), Qt::ISODateWithMs).isValid());
    }
    const HttpReply lines = httpRequest(port, "GET", "/api/lines");
    EXPECT_EQ(lines.status, 200);
    const QJsonObject line = jsonArray(lines.body).at(0).toObject();
    EXPECT_EQ(line.value(QStringLiteral("line")).toString(), QStringLiteral("press1"));
    EXPECT_EQ(line.value(QStringLiteral("port")).toString(), press.port());
    EXPECT_EQ(line.value(QStringLiteral("status")).toString(), QStringLiteral("online"));
    EXPECT_GT(line.value(QStringLiteral("frames_sent")).toDouble(), 0);
    EXPECT_GT(line.value(QStringLiteral("received_bytes")).toDouble(), 0);
    const double utilisation = line.value(QStringLiteral("utilisation")).toDouble(-1);
    EXPECT_TRUE(utilisation > 0 && utilisation <= 1) << utilisation;

    // Writes through the API are answered once acknowledged, or refused.
    const QByteArray json = "Content-Type: application/json";
    struct Post {
        const char* what;
        QByteArray path;
        QList<QByteArray> headers;
        QByteArray body;
        int status;
        const char* answer;
    };
    const Post posts[] = {
        {"a good write", "/api/tags/press1/setpoint", {json}, "{\"value\": 7.5, \"id\": 3}", 200, R"({"id":3,"ok":true})"},
        {"a read-only tag", "/api/tags/press1/speed", {json}, "5", 400,
         R"({"error":"tag speed is read-only; the configuration marks a tag writable: true","ok":false})"},
        {"a value that does not fit", "/api/tags/press1/setpoint", {json}, "true", 400,
         R"({"error":"tag setpoint (float): a float takes a number","ok":false})"},
        {"no such tag", "/api/tags/press1/nosuch", {json}, "5", 404, R"({"error":"no tag press1/nosuch in this gateway"})"},
        {"not JSON", "/api/tags/press1/setpoint", {"Content-Type: text/plain"}, "5", 415,
         R"({"error":"a write is JSON: send it with Content-Type: application/json"})"},
        {"another site's page", "/api/tags/press1/setpoint", {json, "Origin: http://192.0.2.66"}, "5", 403,
         R"({"error":"a write from another site's page is refused"})"},
    };
    for (const Post& row : posts) {
        const HttpReply reply = httpRequest(port, "POST", row.path, row.headers, row.body);
        EXPECT_EQ(reply.status, row.status) << row.what;
        EXPECT_EQ(reply.body, QByteArray(row.answer)) << row.what;
    }
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x40F0})); // 7.5 = 0x40F00000, the good write only
    EXPECT_EQ(words(100, 1), QVector<quint32>{42});

    // The metrics parse as Prometheus text.
    const HttpReply metrics = httpRequest(port, "GET", "/metrics");
    EXPECT_EQ(metrics.status, 200);
    EXPECT_TRUE(metrics.headers.contains("Content-Type: text/plain; version=0.0.4")) << metrics.headers.toStdString();
    // Samples "name{label="value",...} number"; families and help as the text's own test has them.
    static const QRegularExpression sample(QStringLiteral(R"(^([a-z_]+(?:\{[a-z_]+="[^"]*"(?:,[a-z_]+="[^"]*")*\})?) (\S+)$)"));
    QHash<QString, double> samples;
    ASSERT_TRUE(metrics.body.endsWith('\n'));
    for (const QByteArray& text : metrics.body.trimmed().split('\n')) {
        const auto match = sample.match(QString::fromUtf8(text));
        EXPECT_TRUE(text.startsWith("# ") || match.hasMatch()) << text.toStdString();
        samples.insert(match.captured(1), match.captured(2).toDouble());
    }
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_line_online{line=\"press1\"}"), -1), 1);
    for (const char* counter : {"frames_sent", "sent_bytes", "received_bytes", "good_replies"})
        EXPECT_GT(samples.value(QStringLiteral("tavrin_line_%1_total{line=\"press1\"}").arg(QLatin1String(counter)), -1), 0) << counter;
    for (const char* counter : {"retries", "give_ups", "late_replies", "losses", "reconnects"})
        EXPECT_EQ(samples.value(QStringLiteral("tavrin_line_%1_total{line=\"press1\"}").arg(QLatin1String(counter)), -1), 0) << counter;
    const double ratio = samples.value(QStringLiteral("tavrin_line_utilisation_ratio{line=\"press1\"}"), -1);
    EXPECT_TRUE(ratio > 0 && ratio <= 1) << ratio;
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_gateway_tags{quality=\"good\"}"), -1), 13);
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_gateway_tags{quality=\"bad\"}"), -1), 0);
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_tag_good{line=\"press1\",tag=\"speed\"}"), -1), 1);
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_gateway_writes_total{result=\"done\"}"), -1), 1);
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_gateway_writes_total{result=\"refused\"}"), -1), double(std::size(posts) - 1));
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_gateway_writes_total{result=\"failed\"}"), -1), 0);
    EXPECT_EQ(samples.value(QStringLiteral("tavrin_gateway_mqtt_publishes_total"), -1), 0);

    // Requests a network client could send that are no use of the API: each
    // gets an answer or a closed connection, none reaches the PLC, and the
    // server goes on serving (under AddressSanitizer, none reads or writes
    // memory it should not).
    const QByteArray host = "Host: 127.0.0.1\r\nConnection: close\r\n";
    const QByteArray body = "Content-Type: application/json\r\n";
    struct Odd {
        const char* what;
        QByteArray bytes;
        int status;             // 0: closed without an answer
        bool thenClose = false; // the client stops sending halfway
        const char* header = ""; // a header line of the answer
    };
    const Odd odds[] = {
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
    for (const Odd& row : odds) {
        const HttpReply reply = httpExchange(port, row.bytes, row.thenClose);
        const int status = reply.status;
        // A parser may well answer what it cannot read with 400 rather than close.
        if (row.status == 0)
            EXPECT_TRUE(status == 0 || status == 400) << row.what << ": " << status;
        else
            EXPECT_EQ(status, row.status) << row.what;
        EXPECT_TRUE(reply.headers.contains(row.header)) << row.what << "\n" << reply.headers.toStdString();
        EXPECT_LT(reply.body.size(), 512) << row.what << ": an answer quotes no long path";
        EXPECT_EQ(httpRequest(port, "GET", "/api/lines").status, 200) << "after " << row.what;
    }
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x40F0}));

    // The page shows PLC values, follows changes live and writes.
    HeadlessBrowser browser;
    QString error;
    ASSERT_TRUE(browser.open(QStringLiteral("http://127.0.0.1:%1/").arg(port), &error)) << error.toStdString();
    const auto shown = [](const char* tag, const char* part) {
        return QStringLiteral("document.querySelector('[data-tag=\"press1/%1\"] .%2')?.textContent")
            .arg(QLatin1String(tag), QLatin1String(part));
    };
    struct Shown {
        const char* tag;
        const char* value; // as the page shows it
    };
    const Shown onPage[] = {
        {"speed", "42"}, {"total", "-100000"}, {"setpoint", "7.5"}, {"mask", "0x00FF"},
        {"lamp", "true"}, {"inputs", "[false,true,false,true,false,false,false,false]"},
    };
    for (const Shown& row : onPage)
        EXPECT_EQ(browser.waitFor(shown(row.tag, "value"), QLatin1String(row.value)), QJsonValue(QLatin1String(row.value))) << row.tag;
    EXPECT_EQ(browser.evaluate(shown("speed", "quality")), QJsonValue(QStringLiteral("good")));
    EXPECT_EQ(browser.waitFor(QStringLiteral("document.querySelector('[data-line=\"press1\"] .status')?.textContent"),
                              QStringLiteral("online")),
              QJsonValue(QStringLiteral("online")));

    // A change in PLC memory reaches the same page, not a reloaded one.
    browser.evaluate(QStringLiteral("window.stillTheSamePage = true"));
    press.plc.setValue(QStringLiteral("D"), 100, 43);
    EXPECT_EQ(browser.waitFor(shown("speed", "value"), QStringLiteral("43")), QJsonValue(QStringLiteral("43")));
    EXPECT_EQ(browser.evaluate(QStringLiteral("window.stillTheSamePage === true")), QJsonValue(true));

    // A write from the page, as a person types it and clicks.
    browser.evaluate(QStringLiteral("(() => { const row = document.querySelector('[data-tag=\"press1/setpoint\"]');"
                                    " row.querySelector('.write input').value = '12.5';"
                                    " row.querySelector('.write button').click(); return true; })()"));
    EXPECT_EQ(browser.waitFor(shown("setpoint", "result"), QStringLiteral("written")), QJsonValue(QStringLiteral("written")));
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4148})); // 12.5 = 0x41480000
    EXPECT_EQ(browser.waitFor(shown("setpoint", "value"), QStringLiteral("12.5")), QJsonValue(QStringLiteral("12.5")));

    // A PLC that goes away leaves no value on the page.
    press.tcp->close();
    const QJsonValue quality = browser.waitFor(
        shown("speed", "quality") + QStringLiteral(".startsWith('bad: ')"), QJsonValue(true));
    EXPECT_EQ(quality, QJsonValue(true));
    EXPECT_EQ(browser.evaluate(shown("speed", "value")), QJsonValue(QString()));
}

TEST_F(WebFaceEndToEnd, ATokenGuardsTheApiTheFeedAndTheMetricsButNotThePage)
{
    ASSERT_TRUE(startWeb(QLatin1String(kToken))) << gateway.log().toStdString();
    const QByteArray bearer = "Authorization: Bearer " + QByteArray(kToken);
    struct Row {
        QByteArray method;
        QByteArray path;
        QList<QByteArray> headers;
        int status;
    };
    const Row rows[] = {
        {"GET", "/", {}, 200},
        {"GET", "/api/tags", {}, 401},
        {"GET", "/api/tags", {"Authorization: Bearer wrong-token-000000"}, 401},
        {"GET", "/api/tags", {bearer}, 200},
        {"GET", "/api/tags", {"Authorization: bEARER   " + QByteArray(kToken)}, 200}, // any case, 1 or more spaces
        {"GET", "/api/tags", {"Authorization: Basic " + QByteArray(kToken)}, 401},
        {"GET", "/api/tags", {"Authorization: " + QByteArray(kToken)}, 401},
        {"GET", "/api/lines", {}, 401},
        {"GET", "/metrics", {}, 401},
        {"GET", "/metrics", {bearer}, 200},
        {"POST", "/api/tags/press1/setpoint", {"Content-Type: application/json"}, 401},
    };
    for (const Row& row : rows)
        EXPECT_EQ(httpRequest(port, row.method, row.path, row.headers, "1").status, row.status) << row.method.constData() << " " << row.path.constData();
    EXPECT_EQ(words(300, 2), (QVector<quint32>{0x0000, 0x4050}));
    EXPECT_EQ(metricValue(port, R"(tavrin_gateway_writes_total{result="refused"})", {bearer}), 1); // the write without it

    // The feed speaks once it heard the token.
    for (const char* token : {"wrong-token-000000", kToken}) {
        QWebSocket feed;
        QList<QJsonObject> messages;
        QObject::connect(&feed, &QWebSocket::textMessageReceived,
                         [&](const QString& text) { messages.append(QJsonDocument::fromJson(text.toUtf8()).object()); });
        feed.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
        ASSERT_TRUE(waitWithEvents([&] { return feed.state() == QAbstractSocket::ConnectedState; }));
        feed.sendTextMessage(QStringLiteral("{\"token\": \"%1\"}").arg(QLatin1String(token)));
        ASSERT_TRUE(waitWithEvents([&] { return !messages.isEmpty(); })) << token;
        if (QByteArray(token) == kToken) {
            EXPECT_EQ(messages.first().value(QStringLiteral("tags")).toArray().size(), 13);
        } else {
            EXPECT_EQ(messages.first().value(QStringLiteral("error")).toString(), QStringLiteral("this gateway needs its access token"));
            EXPECT_TRUE(waitWithEvents([&] { return feed.state() == QAbstractSocket::UnconnectedState; }));
        }
    }
}

} // namespace

#endif // TAVRIN_GATEWAY_HTTP
