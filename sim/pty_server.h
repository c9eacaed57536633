#pragma once

// The virtual PLC behind a pseudo-terminal: the server opens the master side
// and reports the slave's device path (/dev/pts/N), which a host opens as a
// serial port.
//
// The server keeps the slave open itself too, in raw mode, so that the
// master side stays readable (no end-of-file) while no host has the port
// open, and so that bytes are not echoed or translated before a host sets
// its own mode.

#include "port_server.h"

class PtyServer final : public PortServer {
public:
    explicit PtyServer(VirtualPlc& plc, const ServerOptions& options = ServerOptions());
    ~PtyServer();

    // Opens the pseudo-terminal and starts serving it. False with a reason
    // in `error` (if given) when the system refuses; false too when open.
    bool open(QString* error = nullptr);
    // Stops serving and closes both sides; replies not yet due are dropped.
    void close();
    // The slave's device path while open, else empty.
    QString devicePath() const { return devicePath_; }

protected:
    int hostFd() const override { return master_; }

private:
    void closeDescriptors();

    int master_ = -1;
    int slave_ = -1;
    QString devicePath_;
};
