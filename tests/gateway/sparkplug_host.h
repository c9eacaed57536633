#pragma once

// A Sparkplug B host for the gateway's tests, independent of the gateway's
// own codec: mosquitto_sub prints every spBv1.0 message as hex, and npm's
// sparkplug-payload, run by node (tests/gateway/sparkplug/spb.js), decodes
// it to JSON. Commands go the other way: encoded by the same package,
// published by mosquitto_pub.

#include "mqtt_parts.h"

#include <QJsonArray>
#include <QProcessEnvironment>

inline QString sparkplugTools()
{
    return QStringLiteral(TAVRIN_SPARKPLUG_TOOLS);
}

inline bool sparkplugToolsInstalled()
{
    return QFile::exists(sparkplugTools() + QStringLiteral("/node_modules/sparkplug-payload/package.json"));
}

inline QProcessEnvironment nodeEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), sparkplugTools() + QStringLiteral("/node_modules"));
    return environment;
}

inline QString spbScript()
{
    return QStringLiteral(TAVRIN_SOURCE_DIR "/tests/gateway/sparkplug/spb.js");
}

struct SparkplugHost {
    QProcess subscriber;
    QProcess decoder;
    QVector<QJsonObject> messages; // decoded, in the order they came

    ~SparkplugHost()
    {
        for (QProcess* process : {&subscriber, &decoder}) {
            process->kill();
            process->waitForFinished();
        }
    }

    bool start(quint16 port)
    {
        decoder.setProcessEnvironment(nodeEnvironment());
        decoder.start(QStringLiteral("node"), {spbScript(), QStringLiteral("decode")});
        subscriber.start(QStringLiteral("mosquitto_sub"),
                         {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
                          QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("spBv1.0/#"),
                          QStringLiteral("-F"), QStringLiteral("%t %x")});
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
    int waitFor(const std::function<bool(const QJsonObject&)>& accept, int from = 0, int boundMs = 30000)
    {
        int found = -1;
        waitUntil(
            [&] {
                take();
                for (int i = from; i < messages.size() && found < 0; ++i)
                    found = accept(messages.at(i)) ? i : -1;
                return found >= 0;
            },
            boundMs);
        return found;
    }

    int waitForType(const QString& type, int from = 0)
    {
        return waitFor([&](const QJsonObject& m) { return m.value(QStringLiteral("type")).toString() == type; }, from);
    }
};

inline QJsonObject metricNamed(const QJsonObject& message, const QString& name)
{
    for (const QJsonValue& metric : message.value(QStringLiteral("metrics")).toArray()) {
        if (metric.toObject().value(QStringLiteral("name")).toString() == name)
            return metric.toObject();
    }
    return QJsonObject();
}

// A command (NCMD, DCMD) as JSON, encoded by the independent codec and published.
inline bool publishSparkplug(quint16 port, const QString& topic, const QJsonObject& payload, const QTemporaryDir& dir)
{
    const QString file = dir.filePath(QStringLiteral("command.bin"));
    QProcess encoder;
    encoder.setProcessEnvironment(nodeEnvironment());
    encoder.start(QStringLiteral("node"), {spbScript(), QStringLiteral("encode"), file});
    encoder.write(QJsonDocument(payload).toJson());
    encoder.closeWriteChannel();
    if (!encoder.waitForFinished(30000) || encoder.exitCode() != 0)
        return false;
    QProcess publisher;
    publisher.start(QStringLiteral("mosquitto_pub"),
                    {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
                     QStringLiteral("-t"), topic, QStringLiteral("-f"), file});
    return publisher.waitForFinished(10000) && publisher.exitCode() == 0;
}
