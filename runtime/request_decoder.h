#pragma once

// Reads a request frame back: what the host's frame trace shows and what the
// tests check the host's requests against. Strict: the length the command
// calls for, upper-case hex digits only, ETX in its place and the right sum.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

struct DecodedRequest {
    enum class Kind { Enquiry, BlockRead, BlockWrite, ForceOn, ForceOff, Invalid };
    Kind kind = Kind::Invalid;
    qint64 address = 0; // byte address of a read or write, bit address of a force
    int byteCount = 0;  // the count field of a read or write
    QByteArray data;    // the data bytes of a write
    QString problem;    // why it is invalid
};

DecodedRequest decodeRequest(const QByteArray& frame);

// The sum check of a frame: the low byte of the sum from the command
// character (or the first data character) through ETX at `etxIndex`.
quint8 frameSum(const QByteArray& frame, int etxIndex);
