#pragma once

// One line to a PLC as the runtime uses it: bytes out, bytes in. What they
// mean, and how long to wait for them, is the runtime core's business. Every
// call comes from the runtime's communication thread, which also creates and
// opens the line.

#include <QByteArray>
#include <QString>

class Line {
public:
    virtual ~Line() = default;

    // Opens the line (again, after close). On failure returns false and sets
    // `error` to a text that names the line and the system's reason.
    virtual bool open(QString* error) = 0;
    virtual void close() = 0;

    // Puts the bytes on the line; false when the line failed.
    virtual bool send(const QByteArray& bytes) = 0;

    // Waits up to `timeoutMs` for bytes to arrive and returns what came,
    // as soon as anything did (an empty array when nothing came).
    virtual QByteArray receive(int timeoutMs) = 0;

    // False once the line has failed (a device server closed the connection,
    // an adapter was unplugged); open() may bring it back.
    virtual bool isConnected() const { return true; }
    // Why the line failed, in the system's words, once isConnected() is false.
    virtual QString failure() const { return {}; }

    // How the user names the line: "/dev/ttyUSB0", "tcp:192.0.2.10:4001", ...
    virtual QString name() const = 0;
};
