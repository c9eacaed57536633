#pragma once

// Filling a RequestFrame record: the frame bytes, the shape of the reply it
// expects and a copy of the item it serves. Lengths are computed in 64 bits
// by the builders (an item's Count is the host's) and saturate into the
// record's 32-bit fields instead of overflowing.

#include "tavrin.h"

#include <limits>
#include <vector>

// The frames built for one item, in the order they go on the line: none
// (a name no builder knows, or a write to X), one, or the two of a D_bit pair.
using RequestFrames = std::vector<RequestFrame>;

inline qint32 saturatedInt32(qint64 value)
{
    constexpr qint64 low = std::numeric_limits<qint32>::min();
    constexpr qint64 high = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(value < low ? low : (value > high ? high : value));
}

// A request answered by a data reply of `dataBytes` bytes: STX, two
// characters per byte from index 1 on, ETX and two sum characters.
inline RequestFrame dataRequestRecord(const QByteArray& frameBytes, qint64 dataBytes,
                                      const VarItem& item)
{
    RequestFrame record;
    record.FrameBytes = frameBytes;
    record.SendLength = saturatedInt32(frameBytes.size());
    record.ReplyLength = saturatedInt32(2 * dataBytes + 4);
    record.DataStart = 1;
    record.DataChars = saturatedInt32(2 * dataBytes);
    record.Item = item;
    return record;
}

// A write or force, answered by the single byte ACK.
inline RequestFrame ackRequestRecord(const QByteArray& frameBytes, const VarItem& item)
{
    RequestFrame record;
    record.FrameBytes = frameBytes;
    record.SendLength = saturatedInt32(frameBytes.size());
    record.ReplyLength = 1;
    record.DataStart = 0;
    record.DataChars = 0;
    record.Item = item;
    return record;
}
