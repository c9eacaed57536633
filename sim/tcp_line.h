#pragma once

// The virtual PLC behind a TCP port on loopback, the way a serial device
// server exposes a PLC's programming port: the same bytes as on the serial
// line, no framing of its own. (This is not the PLC's own Ethernet port,
// which speaks a different protocol.)
//
// The line runs its own thread with an event loop, so a host in the same
// process, even on the main thread, can connect to it. One host at a time,
// as a device server port, and the newest one: a new connection closes the
// one before it. When a host goes, its partial request and the replies not
// yet sent to it are dropped.

#include "line_options.h"
#include "virtual_plc.h"

#include <QString>
#include <QThread>
#include <QtGlobal>

#include <memory>

class TcpLineServer;

class TcpLine {
public:
    explicit TcpLine(VirtualPlc& plc, const LineOptions& options = LineOptions());
    ~TcpLine();
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    // Listens on 127.0.0.1 at `port`, 0 for any free port. False with a
    // reason in `error` (if given) when the port cannot be had or the line is open.
    bool open(quint16 port = 0, QString* error = nullptr);
    void close();
    bool isOpen() const { return server_ != nullptr; }
    // The port listened on while open, else 0.
    quint16 port() const { return port_; }

private:
    VirtualPlc& plc_;
    LineOptions options_;
    QThread thread_;
    QObject* context_ = nullptr;       // lives in thread_: target of calls into it
    TcpLineServer* server_ = nullptr;  // created, used and deleted in thread_
    quint16 port_ = 0;
};
