#include "image/reply_check.h"

#include "protocol/frame_codec.h"
#include "protocol/fx_protocol.h"

#include <algorithm>

namespace {

constexpr qint64 ShortestDataFrame = 6; // STX, 2 data characters, ETX, 2 sum characters

} // namespace

int CheckFrame(const QByteArray& reply, qint32 length)
{
    const qint64 len = std::min<qint64>(length, reply.size());
    if (len == 1)
        return reply.at(0) == Fx::ACK ? CheckFrameAck : CheckFrameBad;
    if (len < ShortestDataFrame)
        return CheckFrameBad;
    const char* bytes = reply.constData();
    const qint64 etx = len - 3;
    if (bytes[0] != Fx::STX || bytes[etx] != Fx::ETX)
        return CheckFrameBad;
    const quint8 sum = sumOfBytes(bytes + 1, bytes + etx + 1);
    char expected[2];
    putHexByte(expected, sum);
    return bytes[len - 2] == expected[0] && bytes[len - 1] == expected[1] ? CheckFrameData
                                                                          : CheckFrameBad;
}
