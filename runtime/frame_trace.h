#pragma once

// Frames as --trace shows them: hex bytes, the characters with control
// bytes named, and what the frame means (command, byte or bit address,
// register, count; ACK, NAK or data for replies).

#include <QByteArray>
#include <QString>

// "02 30 31" -> "02 30 31"
QString hexBytes(const QByteArray& bytes);

// "<STX>010C802<ETX>71"
QString frameText(const QByteArray& bytes);

// "read 2 bytes at 0x10C8 (D100)", "force ON bit 0x0505 (Y5)", "ENQ"
QString describeRequest(const QByteArray& frame);

// "ACK", "NAK", "no reply", "data 2 bytes", "3 bytes, not a reply"
QString describeReply(const QByteArray& reply);
