// The virtual PLC's request parser: arbitrary bytes from a host, cut into
// pieces of arbitrary sizes, with well-formed requests mixed in.
//
// Input: a sequence of chunks; each chunk is a selector byte and then either
// raw bytes (length byte + bytes) or the parameters of a request that the
// module's frame codec encodes (so that real frames sit among the garbage).
//
// Checks: the parser's buffer never grows past the longest request; every
// request it reports is consistent (a frame length within the limits, a
// write's data of its byte count); the same byte stream gives the same
// requests whether it arrives whole or one byte at a time; every encoded
// frame that follows an ENQ, ETX-terminated garbage or nothing is found
// with its own address, count and data; the virtual PLC answers every
// request with ACK, NAK or a whole data frame.

#include "fuzz_input.h"
#include "protocol/frame_codec.h"
#include "request_parser.h"
#include "virtual_plc.h"

#include <QVector>

namespace {

bool sameRequest(const ParsedRequest& a, const ParsedRequest& b)
{
    return a.kind == b.kind && a.address == b.address && a.byteCount == b.byteCount
        && a.data == b.data && a.frameLength == b.frameLength;
}

void checkRequest(const ParsedRequest& r, bool fromParser = true)
{
    if (fromParser)
        FUZZ_CHECK(r.frameLength >= 1 && r.frameLength <= RequestParser::MaxFrameLength);
    using K = ParsedRequest::Kind;
    if (r.kind == K::BlockRead || r.kind == K::BlockWrite) {
        FUZZ_CHECK(r.address >= 0 && r.address <= 0xFFFF);
        FUZZ_CHECK(r.byteCount >= 0 && r.byteCount <= 0xFF);
    }
    if (r.kind == K::BlockWrite)
        FUZZ_CHECK(r.data.size() == r.byteCount && r.frameLength == 2 * r.byteCount + 11);
    if (r.kind == K::BlockRead)
        FUZZ_CHECK(r.frameLength == 11);
    if (r.kind == K::ForceOn || r.kind == K::ForceOff)
        FUZZ_CHECK(r.frameLength == 9 && r.address >= 0 && r.address <= 0xFFFF);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    QVector<QByteArray> chunks;
    while (!in.atEnd() && chunks.size() < 64) {
        switch (in.pick(4)) {
        case 0:
            chunks.append(in.bytes());
            break;
        case 1: {
            const quint16 address = in.u16();
            chunks.append(encodeBlockRead(address, in.u8()));
            break;
        }
        case 2: {
            const quint16 address = in.u16();
            const QByteArray bytes = in.bytes();
            chunks.append(encodeBlockWrite(address, bytes.size(), bytes, bytes.size()));
            break;
        }
        default: {
            const bool on = in.u8() % 2;
            chunks.append(encodeForce(on, in.u16()));
            break;
        }
        }
    }

    RequestParser whole;
    RequestParser byteByByte;
    QVector<ParsedRequest> fromChunks;
    QVector<ParsedRequest> fromBytes;
    for (const QByteArray& chunk : chunks) {
        const QVector<ParsedRequest> got = whole.feed(chunk);
        fromChunks += got;
        FUZZ_CHECK(whole.bufferedBytes() <= RequestParser::MaxFrameLength);
        for (char c : chunk) {
            fromBytes += byteByByte.feed(QByteArray(1, c));
            FUZZ_CHECK(byteByByte.bufferedBytes() <= RequestParser::MaxFrameLength);
        }
    }
    FUZZ_CHECK(fromChunks.size() == fromBytes.size());
    for (int i = 0; i < fromChunks.size(); ++i) {
        checkRequest(fromChunks[i]);
        FUZZ_CHECK(sameRequest(fromChunks[i], fromBytes[i]));
    }

    // A real frame fed on a fresh parser comes back exactly.
    for (const QByteArray& chunk : chunks) {
        if (chunk.size() < 9 || chunk[0] != 0x02)
            continue;
        const ParsedRequest alone = decodeRequestFrame(chunk);
        checkRequest(alone, false);
        RequestParser fresh;
        const QVector<ParsedRequest> got = fresh.feed(chunk);
        if (alone.kind != ParsedRequest::Kind::Malformed && alone.kind != ParsedRequest::Kind::BadSum) {
            FUZZ_CHECK(got.size() == 1 && sameRequest(got[0], alone));
        }
    }
    // The PLC behind the parser answers each request with ACK, NAK or a
    // whole data frame, and nothing else.
    VirtualPlc plc;
    for (const QByteArray& chunk : chunks) {
        for (const PlcReply& reply : plc.receiveReplies(chunk)) {
            const QByteArray& r = reply.bytes;
            if (r.size() == 1) {
                FUZZ_CHECK(r[0] == 0x06 || r[0] == 0x15);
                continue;
            }
            FUZZ_CHECK(r.size() >= 6 && r.size() % 2 == 0 && r.size() <= 2 * 64 + 4);
            FUZZ_CHECK(r[0] == 0x02 && r[r.size() - 3] == 0x03);
            char sum[2];
            putHexByte(sum, frameSumCheck(r, r.size() - 3));
            FUZZ_CHECK(r[r.size() - 2] == sum[0] && r[r.size() - 1] == sum[1]);
        }
    }

    // Any bytes at all decode without harm.
    const QByteArray raw(reinterpret_cast<const char*>(data),
                         static_cast<int>(qMin<size_t>(size, 1024)));
    checkRequest(decodeRequestFrame(raw), false);
    return 0;
}
