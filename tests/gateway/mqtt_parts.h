#pragma once

// The MQTT parts around a gateway under test, each a child process started
// by the test on loopback and stopped with it: a mosquitto broker with its
// own temporary configuration on a free port, mosquitto_sub as the
// independent subscriber, mosquitto_pub as the independent publisher.

#include "gateway_process.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>

struct Broker {
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;

    ~Broker() { stop(); }

    // On `at`, or on a free port when 0, with `more` configuration lines.
    // True once it accepts connections.
    bool start(quint16 at = 0, const QString& more = QString())
    {
        port = at ? at : freeLoopbackPort();
        const QString config = dir.filePath(QStringLiteral("mosquitto.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n%2").arg(port).arg(more).toUtf8());
        file.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
        return process.waitForStarted() && waitUntil([this] { return acceptsConnections(port); });
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished();
    }
};

// mosquitto_sub on a topic filter, printing "TOPIC PAYLOAD" lines.
struct Subscriber {
    QProcess process;
    QList<QPair<QString, QByteArray>> messages; // in the order they came

    ~Subscriber()
    {
        process.kill();
        process.waitForFinished();
    }

    // `more`: mosquitto_sub's other options, such as a kept session.
    void start(quint16 port, const QString& filter, const QStringList& more = {})
    {
        process.start(QStringLiteral("mosquitto_sub"),
                      QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
                                  QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-v"), QStringLiteral("-t"), filter}
                          + more);
        process.waitForStarted();
    }

    void take()
    {
        process.waitForReadyRead(5);
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            const int space = line.indexOf(' ');
            if (space > 0)
                messages.append({QString::fromUtf8(line.left(space)), line.mid(space + 1)});
        }
    }

    // The payload of the latest message on `topic` since message `from`, once `accept` likes it.
    QByteArray waitFor(const QString& topic, const std::function<bool(const QByteArray&)>& accept, int from = 0,
                       int boundMs = 20000)
    {
        QByteArray found;
        waitUntil(
            [&] {
                take();
                for (int i = messages.size() - 1; i >= from; --i) {
                    if (messages.at(i).first == topic && accept(messages.at(i).second)) {
                        found = messages.at(i).second;
                        return true;
                    }
                }
                return false;
            },
            boundMs);
        return found;
    }

    // The last payload on `topic`, or nothing.
    QByteArray latest(const QString& topic)
    {
        return waitFor(topic, [](const QByteArray&) { return true; }, 0, 0);
    }
};

inline QJsonObject jsonObject(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// mosquitto_pub, to its end.
inline bool publish(quint16 port, const QString& topic, const QByteArray& payload, bool retain = false)
{
    QStringList arguments{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(port),
                          QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"), topic,
                          QStringLiteral("-m"), QString::fromUtf8(payload)};
    if (retain)
        arguments << QStringLiteral("-r");
    QProcess process;
    process.start(QStringLiteral("mosquitto_pub"), arguments);
    return process.waitForFinished(10000) && process.exitCode() == 0;
}
