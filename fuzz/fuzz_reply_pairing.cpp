// The runtime's reply stream and pairing: any bytes a PLC or a device
// server may send while requests of any shapes are outstanding.
//
// Input: a count of outstanding requests and their shapes (an ACK, or a data
// frame of n bytes), then chunks of bytes as they arrive, with well-formed
// data frames mixed in.
//
// Checks: every unit is a lone ACK, a lone NAK or a frame from STX through
// ETX and two characters, never longer than the largest reply; no byte is
// both dropped and in a unit; a proof names a request whose shape is the
// unit's, and is never given while another outstanding request shares that
// shape (or, for a NAK, while another is outstanding at all); the line is
// in step only once every request is proven or passed; a probe's length is
// one no outstanding request has.

#include "fuzz_input.h"
#include "port_frames.h"
#include "port_protocol.h"
#include "reply_pairing.h"
#include "reply_stream.h"

namespace {

QByteArray dataFrame(const QByteArray& data)
{
    QByteArray body = data.toHex().toUpper() + Port::ETX;
    return QByteArray(1, Port::STX) + body + frameSum(body);
}

int sharing(const ReplyPairing& pairing, const ReplyUnit& unit)
{
    int n = 0;
    for (const ReplyPairing::Sent& request : pairing.requests()) {
        if (unit.kind == ReplyUnit::Kind::Nak)
            ++n;
        else if (unit.kind == ReplyUnit::Kind::Ack)
            n += request.shape.ack;
        else
            n += !request.shape.ack && request.shape.dataBytes == unit.dataBytes();
    }
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    ReplyPairing pairing;
    const int outstanding = in.pick(20);
    for (int i = 0; i < outstanding; ++i) {
        const bool ack = in.pick(2) == 0;
        pairing.sent(ReplyPairing::Sent{AnswerShape{ack, ack ? 0 : in.pick(64) + 1}, 11, i, i + 1, false});
    }
    const int probe = pairing.probeBytes();
    for (const ReplyPairing::Sent& request : pairing.requests())
        FUZZ_CHECK(probe == 0 || request.shape.ack || request.shape.dataBytes != probe);

    ReplyStream stream;
    qint64 fed = 0;
    qint64 inUnits = 0;
    while (!in.atEnd()) {
        const QByteArray chunk = in.pick(3) == 0 ? dataFrame(in.bytes()) : in.bytes();
        fed += chunk.size();
        stream.take(chunk);
        while (const std::optional<ReplyUnit> unit = stream.next()) {
            inUnits += unit->bytes.size();
            if (unit->kind != ReplyUnit::Kind::Frame) {
                FUZZ_CHECK(unit->bytes.size() == 1);
            } else {
                const qsizetype n = unit->bytes.size();
                FUZZ_CHECK(n >= 4 && n <= 2 * Port::MaxBlockBytes + Port::DataReplyOverhead + 3);
                FUZZ_CHECK(unit->bytes.at(0) == Port::STX && unit->bytes.at(n - 3) == Port::ETX);
            }
            const int candidates = sharing(pairing, *unit);
            const int before = pairing.outstanding();
            const ReplyPairing::Proof proof = pairing.arrived(*unit);
            if (!proof.proven) {
                FUZZ_CHECK(pairing.outstanding() == before);
                continue;
            }
            FUZZ_CHECK(candidates == 1);
            FUZZ_CHECK(unit->kind != ReplyUnit::Kind::Frame || proof.request.shape.dataBytes == unit->dataBytes());
            FUZZ_CHECK(unit->kind != ReplyUnit::Kind::Ack || proof.request.shape.ack);
            FUZZ_CHECK(pairing.outstanding() < before);
            for (const ReplyPairing::Sent& request : pairing.requests())
                FUZZ_CHECK(request.sentUs > proof.request.sentUs);
        }
    }
    FUZZ_CHECK(inUnits + stream.droppedBytes() <= fed);
    return 0;
}
