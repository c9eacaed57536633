// The arithmetic of a line in step: which late unit proves which outstanding
// request, reply timeouts at 10 bits a character and the PLC's pace, and a
// reply collected up to the length its request expects.

#include "line_pace.h"
#include "line_timing.h"
#include "port_frames.h"
#include "reply_collector.h"
#include "reply_pairing.h"

#include "support/qt_printers.h"

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
TEST(Proof, OnlyAUniqueShapeProvesItsRequestAndPassesTheOlderOnes)
{
    for (const PairingRow& row : rows) {
        ReplyPairing pairing;
        for (int i = 0; i < row.outstanding.size(); ++i)
            pairing.sent(ReplyPairing::Sent{row.outstanding.at(i), 11, i, i + 1, false});
        const ReplyPairing::Proof proof = pairing.arrived(row.unit);
        EXPECT_EQ(proof.proven ? proof.request.sentUs : -1, row.proves) << row.name;
        EXPECT_EQ(pairing.outstanding(), row.outstanding.size() - (row.proves + 1)) << row.name;
    }
}

TEST(Proof, AProbeTakesALengthNoOutstandingRequestHas)
{
    ReplyPairing pairing;
    for (const int bytes : {1, 2, 4})
        pairing.sent(ReplyPairing::Sent{read(bytes), 11, 0, 1, false});
    EXPECT_EQ(pairing.probeBytes(), 3);
}

TEST(LineTiming, AReplyIsDueAfterItsCharactersAtTheBaudRatePlusTheAllowance)
{
    // A one-word read at 9600 baud: 11 + 8 characters, 190 bits, 19,791 us.
    EXPECT_EQ(LineTiming::wireTimeUs(19, 9600), 19791);
    EXPECT_EQ(LinePace(9600, 200, false).timeoutUs(11, 8), 19791 + 200000);
    // A 64-byte read: 11 + 132 characters, 1430 bits, 148,958 us.
    EXPECT_EQ(LinePace(9600, 0, false).timeoutUs(11, 132), 148958);
    EXPECT_EQ(LinePace(0, 200, false).timeoutUs(11, 8), 200000); // unknown baud: the allowance
    // Learnt: half as much again as a 600 ms answer, and 20 ms.
    LinePace pace(9600, 200, true);
    pace.answered(19791 + 600000, 11, 8);
    EXPECT_EQ(pace.allowanceMs(), 920);
}

TEST(ReplyCollector, TakesTheExpectedLengthFromPiecesAndEndsAtALoneNak)
{
    ReplyCollector data(8);
    data.take(fromHexBytes("02 31 32"));
    data.take(fromHexBytes("33 34 03 43 44 06")); // the stray byte after the sum is dropped
    EXPECT_EQ(data.reply(), fromHexBytes("02 31 32 33 34 03 43 44"));
    ReplyCollector nak(8);
    nak.take(fromHexBytes("15 02 31"));
    EXPECT_TRUE(nak.isComplete());
    EXPECT_EQ(nak.reply(), fromHexBytes("15"));
}

} // namespace
