#pragma once

// Judging a reply against the request it answers, before anything is
// decoded: its length, its framing and its sum check.

#include "tavrin.h"

#include <QByteArray>
#include <QtGlobal>

// The framing and sum test of a reply.
enum class FrameCheck : quint8 {
    Bad = 0,  // NAK, another byte, or a malformed data frame
    Data = 1, // STX, data characters, ETX, a matching sum
    Ack = 2,  // the single byte ACK
};

// Judges the first `length` bytes of `reply` (never more than it holds). A
// data frame needs at least STX, two data characters, ETX and two sum
// characters; its sum is over the bytes after STX through ETX, written as
// two upper-case hex digits (lower-case digits do not match).
FrameCheck CheckFrame(const QByteArray& reply, qint64 length);

// What a reply is worth to the request at the head of the queue.
enum class ReplyVerdict : quint8 {
    Ack,         // the ACK a write or force expects
    Data,        // a data frame of the expected length, framing and sum right
    Missing,     // nothing came back
    WrongLength, // another length than the request expects
    BadFrame,    // the expected length, but framing or sum wrong (a NAK to a write)
};

// The verdict on `reply` to `head`: first its emptiness, then its length
// against ReplyLength, then CheckFrame.
ReplyVerdict checkReply(const RequestFrame& head, const QByteArray& reply);
