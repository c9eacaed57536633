#pragma once

// The MQTT parts around a gateway under test, child processes on loopback: a
// mosquitto broker on a free port, mosquitto_sub and mosquitto_pub.

#include "gateway_process.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

// The options every mosquitto client is given: the broker, QoS 1.
inline QStringList mosquittoOptions(quint16 port)
{
    return QStringLiteral("-h 127.0.0.1 -q 1 -p %1").arg(port).split(QLatin1Char(' '));
}

inline QJsonObject jsonObject(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

struct Broker {
    QTemporaryDir dir;
    ChildProcess process;
    quint16 port = 0;

    // On `at`, or on a free port when 0, with `more` configuration lines.
    // True once it accepts connections.
    bool start(quint16 at = 0, const QString& more = QString())
    {
        port = at ? at : freeLoopbackPort();
        QFile file(dir.filePath(QStringLiteral("mosquitto.conf")));
        if (file.open(QIODevice::WriteOnly))
            file.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n%2").arg(port).arg(more).toUtf8());
        file.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), file.fileName()});
        return process.waitForStarted() && waitUntil([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(200);
        });
    }

    void stop()
    {
        process.terminate();
        process.waitForFinished(10000);
    }
};

using Accept = std::function<bool(const QByteArray&)>;
inline const Accept anything = [](const QByteArray&) { return true; };

// mosquitto_sub on a topic filter, printing "TOPIC PAYLOAD" lines.
struct Subscriber {
    ChildProcess process;
    QList<QPair<QString, QByteArray>> messages; // in the order they came

    // `more`: mosquitto_sub's other options, such as a kept session.
    void start(quint16 port, const QString& filter, const QStringList& more = {})
    {
        process.start(QStringLiteral("mosquitto_sub"), mosquittoOptions(port) + QStringList{QStringLiteral("-v"), QStringLiteral("-t"), filter} + more);
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
    QByteArray waitFor(const QString& topic, const Accept& accept, int from = 0, int boundMs = 20000)
    {
        QByteArray found;
        waitUntil([&] {
            take();
            for (int i = messages.size() - 1; i >= from && found.isNull(); --i) {
                if (messages.at(i).first == topic && accept(messages.at(i).second))
                    found = messages.at(i).second;
            }
            return !found.isNull();
        }, boundMs);
        return found;
    }

    // The last payload on `topic`, or nothing.
    QByteArray latest(const QString& topic) { return waitFor(topic, anything, 0, 0); }
};

// mosquitto_pub, to its end.
inline bool publish(quint16 port, const QString& topic, const QByteArray& payload, bool retain = false)
{
    ChildProcess process;
    process.start(QStringLiteral("mosquitto_pub"), mosquittoOptions(port) + QStringList{QStringLiteral("-t"), topic, QStringLiteral("-m"), QString::fromUtf8(payload)}
                                                       + (retain ? QStringList{QStringLiteral("-r")} : QStringList()));
    return process.waitForFinished(10000) && process.exitCode() == 0;
}
