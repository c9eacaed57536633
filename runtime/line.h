#pragma once

// One line to a PLC as the runtime uses it: send a request, collect its reply
// up to the expected length or a deadline, and drop what arrives when no
// request is waiting for it. Every call comes from the runtime's
// communication thread, which also creates and opens the line.

#include <QByteArray>
#include <QString>

class Line {
public:
    virtual ~Line() = default;

    // Opens the line (again, after close). On failure returns false and sets
    // `error` to a text that names the line and the system's reason.
    virtual bool open(QString* error) = 0;
    virtual void close() = 0;

    // Drops whatever arrived since the last reply (a late answer to a request
    // that already timed out), so it cannot pass for the next reply. Returns
    // the bytes dropped.
    virtual QByteArray discardInput() = 0;

    // Waits until no byte has arrived for `quietMs`, `limitMs` at most in all,
    // and drops everything that came: a late reply still on its way. Returns
    // the bytes dropped.
    virtual QByteArray drainUntilQuiet(int quietMs, int limitMs) = 0;

    // Puts the bytes on the line; false when the line failed.
    virtual bool send(const QByteArray& bytes) = 0;

    // Collects the reply: `length` bytes at most, fewer when `timeoutMs`
    // passes first (an empty array when nothing came). A lone NAK or ACK ends
    // the reply at once (see ReplyCollector).
    virtual QByteArray collect(int length, int timeoutMs) = 0;

    // False once the line has failed (a device server closed the connection,
    // an adapter was unplugged); open() may bring it back.
    virtual bool isConnected() const { return true; }
    // Why the line failed, in the system's words, once isConnected() is false.
    virtual QString failure() const { return {}; }

    // How the user names the line: "/dev/ttyUSB0", "tcp:192.0.2.10:4001", ...
    virtual QString name() const = 0;
};
