#include "plant_processes.h"

#include <QFile>
#include <QThread>

Broker::Broker(const QTemporaryDir& dir, quint16 port, bool keepSessions)
{
    // Started as root, mosquitto drops to its own user, which cannot write
    // the session store into this root-owned folder: a kept subscriber's
    // session would be lost with the broker.
    const QString kept = QStringLiteral("persistence true\npersistence_location %1/\nmax_queued_messages 1000000\n"
                                        "user root\n").arg(dir.path());
    const QString dropped = QStringLiteral("persistence false\nmax_queued_messages 100000\n");
    config_ = writeFile(dir, QStringLiteral("mosquitto.conf"),
                        QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port)
                            + (keepSessions ? kept : dropped));
    process_.setStandardOutputFile(dir.filePath(QStringLiteral("mosquitto.log")), QIODevice::Append);
    process_.setStandardErrorFile(dir.filePath(QStringLiteral("mosquitto.log")), QIODevice::Append);
}

bool Broker::start()
{
    process_.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config_});
    const bool started = process_.waitForStarted();
    QThread::msleep(300); // its listener
    return started;
}

void Broker::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    process_.waitForFinished(10000);
}

ServedPlcs::ServedPlcs(int count, const ServerOptions& pacing)
{
    for (int k = 0; k < count; ++k) {
        plcs.push_back(std::make_unique<VirtualPlc>());
        servers.push_back(std::make_unique<TcpServer>(*plcs.back(), pacing));
        servers.back()->open();
    }
}

std::vector<quint16> ServedPlcs::ports() const
{
    std::vector<quint16> ports;
    for (const auto& server : servers)
        ports.push_back(server->port());
    return ports;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QString& text)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(text.toUtf8());
    return file.fileName();
}
