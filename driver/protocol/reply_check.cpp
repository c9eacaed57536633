#include "protocol/reply_check.h"

#include "protocol/frame_codec.h"
#include "protocol/fx_protocol.h"

#include <algorithm>

namespace {

constexpr qint64 ShortestDataFrame = 6; // STX, 2 data characters, ETX, 2 sum characters

} // namespace

FrameCheck CheckFrame(const QByteArray& reply, qint64 length)
{
    const qint64 len = std::min<qint64>(length, reply.size());
    if (len == 1)
        return reply.at(0) == Fx::ACK ? FrameCheck::Ack : FrameCheck::Bad;
    if (len < ShortestDataFrame)
        return FrameCheck::Bad;
    const char* bytes = reply.constData();
    const qint64 etx = len - 3;
    if (bytes[0] != Fx::STX || bytes[etx] != Fx::ETX)
        return FrameCheck::Bad;
    const quint8 sum = sumOfBytes(bytes + 1, bytes + etx + 1);
    char expected[2];
    putHexByte(expected, sum);
    return bytes[len - 2] == expected[0] && bytes[len - 1] == expected[1] ? FrameCheck::Data
                                                                          : FrameCheck::Bad;
}

ReplyVerdict checkReply(const RequestFrame& head, const QByteArray& reply)
{
    const qint64 length = reply.size();
    if (length == 0 && head.ReplyLength != 0)
        return ReplyVerdict::Missing;
    if (length != head.ReplyLength)
        return ReplyVerdict::WrongLength;
    switch (CheckFrame(reply, length)) {
    case FrameCheck::Ack:
        return ReplyVerdict::Ack;
    case FrameCheck::Data:
        return ReplyVerdict::Data;
    case FrameCheck::Bad:
        break;
    }
    return ReplyVerdict::BadFrame;
}
