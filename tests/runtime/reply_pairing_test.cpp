// Which late unit proves which outstanding request: only a shape that one
// outstanding request alone has, and a NAK only when one request is out.

#include "port_frames.h"
#include "reply_pairing.h"

#include <gtest/gtest.h>

namespace {

ReplyUnit frameOf(int dataBytes)
{
    const QByteArray body = QByteArray(2 * dataBytes, '0') + '\x03';
    return ReplyUnit{ReplyUnit::Kind::Frame, '\x02' + body + frameSum(body)};
}

const ReplyUnit ack{ReplyUnit::Kind::Ack, QByteArray(1, '\x06')};
const ReplyUnit nak{ReplyUnit::Kind::Nak, QByteArray(1, '\x15')};

struct PairingRow {
    const char* name;
    QVector<AnswerShape> outstanding; // oldest first
    ReplyUnit unit;
    int proves;                       // index of the request proven, -1: none
};

class Proof : public ::testing::TestWithParam<PairingRow> {};

TEST_P(Proof, OnlyAUniqueShapeProvesItsRequestAndPassesTheOlderOnes)
{
    ReplyPairing pairing;
    for (int i = 0; i < GetParam().outstanding.size(); ++i)
        pairing.sent(ReplyPairing::Sent{GetParam().outstanding.at(i), 11, i, i + 1, false});
    const ReplyPairing::Proof proof = pairing.arrived(GetParam().unit);
    EXPECT_EQ(proof.proven ? proof.request.sentUs : -1, GetParam().proves);
    EXPECT_EQ(pairing.outstanding(), GetParam().outstanding.size() - (GetParam().proves + 1));
}

const AnswerShape write{true, 0};
AnswerShape read(int bytes) { return AnswerShape{false, bytes}; }

const PairingRow rows[] = {
    {"FrameOfAUniqueLength", {read(20), read(1), read(2)}, frameOf(1), 1},
    {"FrameOfASharedLength", {read(2), read(1), read(2)}, frameOf(2), -1},
    {"FrameOfNoOutstandingLength", {read(20), read(1)}, frameOf(3), -1},
    {"FrameWithABadSum", {read(1)}, ReplyUnit{ReplyUnit::Kind::Frame, QByteArray("\x02" "00\x03" "00")}, -1},
    {"AckOfTheOnlyWrite", {write, read(1), read(2)}, ack, 0},
    {"AckOfTwoWrites", {write, read(1), write}, ack, -1},
    {"AckWithNoWriteOut", {read(1), read(2)}, ack, -1},
    {"NakOfTheOnlyRequest", {read(3)}, nak, 0},
    {"NakWithTwoOut", {read(3), read(1)}, nak, -1},
};
INSTANTIATE_TEST_SUITE_P(Units, Proof, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Proof, AProbeTakesALengthNoOutstandingRequestHas)
{
    ReplyPairing pairing;
    for (const int bytes : {1, 2, 4})
        pairing.sent(ReplyPairing::Sent{read(bytes), 11, 0, 1, false});
    EXPECT_EQ(pairing.probeBytes(), 3);
}

} // namespace
