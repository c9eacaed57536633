// With history:, what the Sparkplug primary host misses is kept in the
// history store: the gateway killed and started again in the middle of the
// host's outage still sends every change of it, as is_historical DDATA,
// oldest first, after the DBIRTH once the host is back. Decoded by npm's
// sparkplug-payload; what the gateway stored is read from its file by a
// connection of this test's own.

#include "sparkplug_host.h"

#include "history_store.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <csignal>

namespace {

QString type(const QJsonObject& message)
{
    return message.value(QStringLiteral("type")).toString();
}

TEST(SparkplugHistory, WhatTheHostMissedOutlivesAGatewayKilledDuringItsOutage)
{
    ASSERT_TRUE(sparkplugToolsInstalled()) << "run scripts/ensure-sparkplug-tools.sh";
    QTemporaryDir dir;
    Broker broker;
    SparkplugHost host;
    ServedPlc plc{ServedOn::Tcp, VirtualPlcOptions()};
    GatewayProcess gateway;
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(host.start(broker.port));
    plc.plc.setValue(QStringLiteral("D"), 10, 7);
    const QString historyFile = dir.filePath(QStringLiteral("history.db"));
    const QString config =
        writeConfig(dir, QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", client_id: spbh, json: false}\n"
                                        "sparkplug: {group_id: plant1, edge_node_id: gw1, primary_host_id: scada}\n"
                                        "history: {path: \"%2\"}\n"
                                        "lines:\n  - name: press\n    port: %3\n    baud: 115200\n    tags:\n"
                                        "      - { name: speed, address: D0 }\n"
                                        "      - { name: recipe, address: D10, count: 2 }\n")
                             .arg(broker.port)
                             .arg(historyFile, plc.port()));
    const auto state = [&](bool online, qint64 timestamp) {
        return publish(broker.port, QStringLiteral("spBv1.0/STATE/scada"),
                       QStringLiteral("{\"online\":%1,\"timestamp\":%2}").arg(QLatin1String(online ? "true" : "false")).arg(timestamp).toUtf8(),
                       true);
    };
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
    gateway.start(config);
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
    QHash<quint64, QString> names;
    for (const QJsonValue& m : host.messages.at(dbirth).value(QStringLiteral("metrics")).toArray())
        names.insert(quint64(m.toObject().value(QStringLiteral("alias")).toDouble()), m.toObject().value(QStringLiteral("name")).toString());
    // The history, metric by metric, as "name=value", a value repeated once.
    QStringList history;
    double last = 0;
    const auto historyCame = [&] {
        host.take();
        history.clear();
        for (int i = dbirth + 1; i < host.messages.size() && type(host.messages.at(i)) == QLatin1String("DDATA"); ++i) {
            for (const QJsonValue& m : host.messages.at(i).value(QStringLiteral("metrics")).toArray()) {
                const QJsonObject metric = m.toObject();
                if (!metric.value(QStringLiteral("historical")).toBool())
                    continue;
                EXPECT_GE(metric.value(QStringLiteral("timestamp")).toDouble(), last);
                last = metric.value(QStringLiteral("timestamp")).toDouble();
                const QString shown = names.value(quint64(metric.value(QStringLiteral("alias")).toDouble())) + QLatin1Char('=')
                    + QString::number(metric.value(QStringLiteral("value")).toDouble());
                if (history.isEmpty() || history.last() != shown)
                    history.append(shown);
            }
        }
        last = 0;
        return history.join(QLatin1Char(' ')).contains(QStringLiteral("speed=1 speed=2 recipe/0=7 recipe/1=9 speed=3"));
    };
    ASSERT_TRUE(waitUntil(historyCame, 30000)) << history.join(QLatin1Char(' ')).toStdString() << "\n" << gateway.log().toStdString();
}

} // namespace
