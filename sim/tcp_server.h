#pragma once

// The virtual PLC behind a TCP port on loopback, the way a serial device
// server exposes a PLC's programming port: the same bytes as on the serial
// line, no framing of its own. (This is not the PLC's own Ethernet port,
// which speaks a different protocol.)
//
// One host at a time, as a device server port, and the newest one: a new
// connection closes the one before it, as a device server in its usual mode
// lets a reconnecting host in. When a host goes, its partial request and
// the replies not yet sent to it are dropped.

#include "port_server.h"

#include <QtGlobal>

class TcpServer final : public PortServer {
public:
    explicit TcpServer(VirtualPlc& plc, const ServerOptions& options = ServerOptions());
    ~TcpServer();

    // Listens on 127.0.0.1 (and [::1] where the system has IPv6) at `port`,
    // 0 for any free port. False with a
    // reason in `error` (if given) when the port cannot be had or the server is open.
    bool open(quint16 port = 0, QString* error = nullptr);
    // Stops listening and closes the host's connection.
    void close();
    // The port listened on while open, else 0.
    quint16 port() const { return port_; }

protected:
    int hostFd() const override { return client_; }
    std::array<int, 2> listenFds() const override { return {listener_, listener6_}; }
    void acceptHost(int listener) override;
    void hostGone() override;

private:
    void listenOnIpv6Loopback();
    void closeDescriptors();

    int listener_ = -1;
    int listener6_ = -1; // [::1], on the same port, where the system has IPv6
    int client_ = -1; // the loop's thread only, while it runs
    quint16 port_ = 0;
};
