// Replies judged against the request they answer: by length first, then by
// framing and sum. Sums worked by hand: the low 8 bits of the bytes after STX
// through ETX ("1234" ETX: 0x31 + 0x32 + 0x33 + 0x34 + 0x03 = 0xCD, sum "CD").

#include "protocol/reply_check.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kGood1234 = "02 31 32 33 34 03 43 44";
constexpr qint32 kAck = -1; // data bytes of a write or force: the reply is one ACK byte

using V = ReplyVerdict;

// clang-format off
struct VerdictRow { const char* name; qint32 dataBytes, replyLength; const char* reply; ReplyVerdict verdict; };
// clang-format on

class ReplyVerdicts : public ::testing::TestWithParam<VerdictRow> {};

TEST_P(ReplyVerdicts, JudgeLengthThenFramingAndSum)
{
    const VerdictRow& r = GetParam();
    RequestFrame head; // as the builders shape it: a read of dataBytes bytes, or a write
    head.ReplyLength = r.replyLength;
    head.DataStart = r.dataBytes == kAck ? 0 : 1;
    head.DataChars = r.dataBytes == kAck ? 0 : 2 * r.dataBytes;
    EXPECT_EQ(checkReply(head, fromHexBytes(r.reply)), r.verdict);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ReplyVerdicts, ::testing::Values(
    VerdictRow{"AckToWrite",       kAck, 1,  "06",                      V::Ack},
    VerdictRow{"NakToWrite",       kAck, 1,  "15",                      V::BadFrame},
    VerdictRow{"TwoBytesToWrite",  kAck, 1,  "06 06",                   V::WrongLength},
    VerdictRow{"NothingToWrite",   kAck, 1,  "",                        V::Missing},
    VerdictRow{"GoodData",         2,    8,  kGood1234,                 V::Data},
    VerdictRow{"WrongSum",         2,    8,  "02 31 32 33 34 03 43 45", V::BadFrame},
    VerdictRow{"LowercaseSum",     2,    8,  "02 31 32 33 34 03 63 64", V::BadFrame},
    VerdictRow{"NoStxRightSum",    2,    8,  "06 31 32 33 34 03 43 44", V::BadFrame},
    // 0x04 where ETX belongs, the sum right over the bytes as they are: 0x31 + ... + 0x04 = 0xCE.
    VerdictRow{"NoEtxRightSum",    2,    8,  "02 31 32 33 34 04 43 45", V::BadFrame},
    VerdictRow{"NakToRead",        2,    8,  "15",                      V::WrongLength},
    VerdictRow{"AckToRead",        2,    8,  "06",                      V::WrongLength},
    // STX ETX and a right sum but no data byte, or half of one: a data frame needs one.
    VerdictRow{"NoDataByte",       0,    4,  "02 03 30 33",             V::BadFrame},
    VerdictRow{"HalfADataByte",    0,    5,  "02 31 03 33 34",          V::BadFrame},
    // A head whose reply length is 0 takes no reply as no frame at all.
    VerdictRow{"NothingExpected",  0,    0,  "",                        V::BadFrame}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
