#pragma once

// One line to a PLC as the runtime uses it: send a request, collect its reply
// up to the expected length or a deadline. Every call comes from the
// runtime's communication thread, which also creates and opens the line.

#include <QByteArray>
#include <QString>

class Line {
public:
    virtual ~Line() = default;

    // Opens the line. On failure returns false and sets `error` to a text
    // that names the line and the system's reason.
    virtual bool open(QString* error) = 0;
    virtual void close() = 0;

    // Drops whatever arrived since the last reply (a late answer to a request
    // that already timed out), so it cannot pass for the next reply.
    virtual void discardInput() = 0;

    // Puts the bytes on the line; false when the line failed.
    virtual bool send(const QByteArray& bytes) = 0;

    // Collects the reply: `length` bytes at most, fewer when `timeoutMs`
    // passes first (an empty array when nothing came). A lone NAK or ACK ends
    // the reply at once (see ReplyCollector).
    virtual QByteArray collect(int length, int timeoutMs) = 0;

    // False once the line has failed for good (a device server closed the
    // connection, an adapter was unplugged).
    virtual bool isConnected() const { return true; }

    // How the user names the line: "/dev/ttyUSB0", "tcp:10.0.0.5:4001", ...
    virtual QString name() const = 0;
};
