#pragma once

// Splits the bytes a line brings into the units a PLC answers with: a lone
// ACK, a lone NAK, or a data frame from STX through ETX and its two sum
// characters. Bytes outside a unit (noise, the rest of a cut frame) are
// dropped and counted. A data frame holds only hexadecimal characters, so an
// ACK or NAK byte never hides inside one.

#include <QByteArray>

#include <optional>

struct ReplyUnit {
    enum class Kind { Ack, Nak, Frame };
    Kind kind = Kind::Ack;
    QByteArray bytes;

    // A frame whose framing and sum check hold: its data bytes, -1 otherwise.
    int dataBytes() const;
};

class ReplyStream {
public:
    void take(const QByteArray& bytes) { input_ += bytes; }
    // The next whole unit, or nothing until more bytes come.
    std::optional<ReplyUnit> next();
    void clear() { input_.clear(); }
    qint64 droppedBytes() const { return dropped_; }

private:
    QByteArray input_;
    qint64 dropped_ = 0;
};
