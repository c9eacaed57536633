// Store and forward as a plant lives it: the broker goes away, the PLC's
// values change, the gateway is restarted in the middle of the outage, the
// broker comes back. A subscriber with a session the broker keeps must then
// get every change of the outage on .../history, in order, with the time it
// happened (read from the gateway's history file by a connection of this
// test's own); the retained value must end at the newest; and the history
// API must give the same changes. Without a history: section the missed
// changes wait in memory, and a restart is not part of the outage.

#include "http_get.h"
#include "mqtt_parts.h"
#include "press_gateway.h"

#include "history_store.h"

#include "support/qt_printers.h"

namespace {

Accept valueIs(double value)
{
    return [value](const QByteArray& payload) { return jsonObject(payload).value(QStringLiteral("value")) == value; };
}

class StoreAndForward : public PressGateway, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        // The broker keeps the history subscriber's session across its restart
        // (run as root, it would write its file as another user: it stays root).
        brokerSettings = QStringLiteral("persistence true\npersistence_location %1/\nuser root\n").arg(dir.path());
        ASSERT_TRUE(broker.start(0, brokerSettings)) << broker.process.readAll().toStdString();
        const QString history = QStringLiteral("history: {path: \"%1\"}\n").arg(dir.filePath(QStringLiteral("history.db")));
        startGateway(QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: plant1, forward_rate: 50}\n%2").arg(broker.port).arg(GetParam() ? history : QString()));
        forwarded.start(broker.port, QStringLiteral("plant1/+/+/history"), {QStringLiteral("-c"), QStringLiteral("-i"), QStringLiteral("history-test")});
        // Subscribed once a message of its own comes back.
        const QString probe = QStringLiteral("plant1/probe/probe/history");
        ASSERT_TRUE(waitUntil([&] { return publish(broker.port, probe, "{}") && !forwarded.waitFor(probe, anything, 0, 500).isEmpty(); }));
        Subscriber live;
        live.start(broker.port, QStringLiteral("plant1/press1/speed"));
        ASSERT_FALSE(live.waitFor(QStringLiteral("plant1/press1/speed"), valueIs(42)).isEmpty()) << gateway.log();
    }

    // Sets D100 and waits until the gateway kept the change; its time (none
    // without a history file: then until the gateway read every block a few times).
    QString change(int value)
    {
        const quint64 readsBefore = press.plc.counters().reads;
        press.plc.setValue(QStringLiteral("D"), 100, quint32(value));
        if (!GetParam()) {
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

    Broker broker;
    QString brokerSettings;
    Subscriber forwarded;
};

TEST_P(StoreAndForward, EveryChangeOfAnOutageArrivesInOrderWithItsTime)
{
    const quint16 port = broker.port;
    broker.stop();
    QVector<QPair<int, QString>> changes; // value, ts
    for (int value : {100, 101, 102, -1, 103, 104}) {
        if (value >= 0) {
            changes.append({value, change(value)});
            ASSERT_FALSE(changes.last().second.isEmpty()) << value << ": " << gateway.log();
        } else if (GetParam()) {
            ASSERT_EQ(gateway.stop(), 0) << gateway.log();
            gateway.start(configFile);
        }
    }
    ASSERT_TRUE(broker.start(port, brokerSettings));

    const QString topic = QStringLiteral("plant1/press1/speed/history");
    ASSERT_FALSE(forwarded.waitFor(topic, valueIs(104), 0, 60000).isEmpty()) << gateway.log();
    // In order, each with its own time; the gateway's restart adds its own
    // changes (bad while stopping, the first read after), never takes one.
    int at = 0;
    for (const auto& expected : changes) {
        while (at < forwarded.messages.size() && !(forwarded.messages.at(at).first == topic && valueIs(expected.first)(forwarded.messages.at(at).second)))
            ++at;
        ASSERT_LT(at, forwarded.messages.size()) << "missing or out of order: " << expected.first;
        if (GetParam()) {
            EXPECT_EQ(jsonObject(forwarded.messages.at(at).second).value(QStringLiteral("ts")).toString(), expected.second);
        }
    }
    // Then the current values, retained.
    Subscriber late;
    late.start(port, QStringLiteral("plant1/press1/speed"));
    EXPECT_FALSE(late.waitFor(QStringLiteral("plant1/press1/speed"), valueIs(104)).isEmpty());

#ifdef TAVRIN_GATEWAY_HTTP
    EXPECT_TRUE(waitUntil([&] { return metricValue(httpPort, "tavrin_gateway_mqtt_backlog_messages") == 0; }, 20000));
    const QByteArray from = GetParam() ? "&from=" + changes.first().second.toUtf8() : QByteArray();
    const HttpReply reply = httpRequest(httpPort, "GET", "/api/history?line=press1&tag=speed" + from);
    if (!GetParam()) {
        EXPECT_EQ(reply.status, 503);
        return;
    }
    ASSERT_EQ(reply.status, 200) << reply.body.toStdString();
    const QJsonArray points = jsonObject(reply.body).value(QStringLiteral("points")).toArray();
    ASSERT_FALSE(points.isEmpty());
    // The trend starts from the last change before `from`, at its own time.
    EXPECT_LT(points.first().toObject().value(QStringLiteral("ts")).toString(), changes.first().second);
    QVector<double> kept; // the good values after it, in the order of the points
    for (int k = 1; k < points.size(); ++k) {
        if (points.at(k).toObject().value(QStringLiteral("good")).toBool())
            kept.append(points.at(k).toObject().value(QStringLiteral("last")).toDouble());
    }
    kept.erase(std::unique(kept.begin(), kept.end()), kept.end()); // the restart's first read may repeat 102
    EXPECT_EQ(kept, (QVector<double>{100, 101, 102, 103, 104})) << reply.body.toStdString();
#endif
}

INSTANTIATE_TEST_SUITE_P(Kept, StoreAndForward, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "InTheHistoryStore" : "InMemory"); });

} // namespace
