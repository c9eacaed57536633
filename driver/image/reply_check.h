#pragma once

// Framing and sum test of a reply, before anything is decoded.

#include <QByteArray>
#include <QtGlobal>

constexpr int CheckFrameBad = 0;  // NAK, another byte, or a malformed data frame
constexpr int CheckFrameData = 1; // STX, data characters, ETX, a matching sum
constexpr int CheckFrameAck = 2;  // the single byte ACK

// Judges the first `length` bytes of `reply` (never more than it holds). A
// data frame needs at least STX, two data characters, ETX and two sum
// characters; its sum is over the bytes after STX through ETX, written as
// two upper-case hex digits (lower-case digits do not match).
int CheckFrame(const QByteArray& reply, qint32 length);
