#pragma once

// The plant a gateway benchmark runs around the gateway: a mosquitto broker
// on a loopback port and virtual PLCs served on TCP as device servers.

#include "tcp_server.h"
#include "virtual_plc.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class Broker {
public:
    // keepSessions: the broker keeps its sessions and retained messages in
    // `dir` across a stop and start.
    Broker(const QTemporaryDir& dir, quint16 port, bool keepSessions);
    ~Broker() { stop(); }
    bool start();
    void stop(); // SIGTERM: the broker saves what it keeps
    qint64 pid() const { return process_.state() == QProcess::Running ? process_.processId() : 0; }

private:
    QString config_;
    QProcess process_;
};

// `count` virtual PLCs, each on a TCP server of its own paced by `pacing`.
struct ServedPlcs {
    ServedPlcs(int count, const ServerOptions& pacing);
    std::vector<quint16> ports() const;

    std::vector<std::unique_ptr<VirtualPlc>> plcs;
    std::vector<std::unique_ptr<TcpServer>> servers;
};

// Writes `text` to `name` in `dir`; returns its path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const QString& text);
