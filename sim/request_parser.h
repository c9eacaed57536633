#pragma once

// Cuts the bytes a host sends into programming-port requests. Feed bytes as
// they arrive, in pieces of any size; each completed request comes back once.
//
// Framing: outside a frame, ENQ is a request of its own, STX opens a frame
// and every other byte is ignored (a PLC stays silent). Inside a frame, ETX
// plus two sum characters close it, and a new STX starts over, so a frame
// after garbage or after a broken frame is still found. A frame that grows
// past the longest valid request (a block write of 255 bytes: 521 bytes) is
// dropped as garbage. Any input is safe: the buffer never exceeds that size.

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

struct ParsedRequest {
    enum class Kind {
        Enquiry,    // ENQ: the host asks whether the PLC is there
        BlockRead,  // "0": address, byteCount
        BlockWrite, // "1": address, byteCount, data
        ForceOn,    // "7": address is the bit address
        ForceOff,   // "8": address is the bit address
        BadSum,     // the sum characters do not match the frame
        Malformed,  // right sum, but an unknown command or a layout no request has
    };
    Kind kind = Kind::Malformed;
    qint64 address = 0;   // byte address of a read or write, bit address of a force
    qint64 byteCount = 0; // count field of a read or write
    QByteArray data;      // the decoded data bytes of a write
    int frameLength = 0;  // characters the request took on the line (1 for ENQ)
};

class RequestParser {
public:
    // STX, "1", 4 address, 2 count, 2 x 255 data, ETX, 2 sum.
    static constexpr int MaxFrameLength = 2 * 255 + 11;

    // Feeds bytes; returns the requests they complete, in order.
    QVector<ParsedRequest> feed(const QByteArray& bytes);
    // Forgets a partial frame (a new connection on the line).
    void reset();

    int bufferedBytes() const { return static_cast<int>(frame_.size()); }
    quint64 ignoredBytes() const { return ignored_; }

private:
    enum class State { Hunting, InFrame, InSum };

    void take(char c, QVector<ParsedRequest>& out);
    void drop();

    QByteArray frame_;
    State state_ = State::Hunting;
    int sumChars_ = 0; // sum characters taken after ETX
    quint64 ignored_ = 0;
};

// Decodes one complete frame, STX through the two sum characters
// (exposed for tests). Strict: only the digits 0-9 and A-F count as hex.
ParsedRequest decodeRequestFrame(const QByteArray& frame);
