// Cutting the host's bytes into requests: layouts, resynchronisation and
// robustness against arbitrary input.

#include "request_parser.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Kind = ParsedRequest::Kind;

struct DecodeRow {
    const char* name;
    const char* frame;
    Kind kind;
    qint64 address;
    qint64 byteCount;
    const char* dataHex;
};

void PrintTo(const DecodeRow& row, std::ostream* os)
{
    *os << row.name;
}

const DecodeRow kDecode[] = {
    {"ReadD100", "02 30 31 30 43 38 30 32 03 37 31", Kind::BlockRead, 0x10C8, 2, ""},
    {"WriteC200", "02 31 30 43 30 30 30 34 37 38 35 36 33 34 31 32 03 30 46", Kind::BlockWrite,
     0x0C00, 4, "78563412"},
    {"ForceOnM100", "02 37 36 34 30 38 03 30 43", Kind::ForceOn, 0x0864, 0, ""},
    {"ForceOffY0", "02 38 30 30 30 35 03 30 30", Kind::ForceOff, 0x0500, 0, ""},
    {"BadSum", "02 30 31 30 43 38 30 32 03 37 32", Kind::BadSum, 0, 0, ""},
    {"UnknownCommand", "02 45 30 30 30 30 03 30 38", Kind::Malformed, 0, 0, ""},
    // "010c802": a lower-case address digit; 30+31+30+63+38+30+32+03 = 191
    {"LowerCaseAddress", "02 30 31 30 63 38 30 32 03 39 31", Kind::Malformed, 0, 0, ""},
    // A write whose count says 2 bytes but carries 1: "1010002" + "00"; sum 1B7
    {"WriteShortOfItsCount", "02 31 30 31 30 30 30 32 30 30 03 42 37", Kind::Malformed, 0, 0, ""},
    // A read with data characters: "0010C80200"; sum 1D1
    {"ReadWithData", "02 30 31 30 43 38 30 32 30 30 03 44 31", Kind::Malformed, 0, 0, ""},
};

class DecodeFrame : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(DecodeFrame, GivesKindAddressCountAndData)
{
    const DecodeRow& row = GetParam();
    const QByteArray frame = fromHexBytes(row.frame);
    const ParsedRequest request = decodeRequestFrame(frame);
    EXPECT_EQ(request.kind, row.kind);
    EXPECT_EQ(request.frameLength, frame.size());
    if (row.kind == Kind::BadSum || row.kind == Kind::Malformed)
        return;
    EXPECT_EQ(request.address, row.address);
    EXPECT_EQ(request.byteCount, row.byteCount);
    EXPECT_EQ(request.data, QByteArray::fromHex(row.dataHex));
}

INSTANTIATE_TEST_SUITE_P(RequestParser, DecodeFrame, ::testing::ValuesIn(kDecode),
                         [](const auto& info) { return std::string(info.param.name); });

const char* kReadD100 = "02 30 31 30 43 38 30 32 03 37 31";

TEST(RequestParser, KeepsAPartialFrameUntilItCompletes)
{
    RequestParser parser;
    const QByteArray frame = fromHexBytes(kReadD100);
    EXPECT_TRUE(parser.feed(frame.left(4)).isEmpty());
    EXPECT_EQ(parser.bufferedBytes(), 4);
    EXPECT_TRUE(parser.feed(frame.mid(4, 6)).isEmpty()); // through ETX and the first sum character
    const QVector<ParsedRequest> done = parser.feed(frame.mid(10));
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done.at(0).kind, Kind::BlockRead);
    EXPECT_EQ(parser.bufferedBytes(), 0);
}

TEST(RequestParser, EnquiryOutsideAFrameIsARequest)
{
    RequestParser parser;
    const QVector<ParsedRequest> done = parser.feed(fromHexBytes("05 41 05"));
    ASSERT_EQ(done.size(), 2);
    EXPECT_EQ(done.at(0).kind, Kind::Enquiry);
    EXPECT_EQ(done.at(1).frameLength, 1);
    EXPECT_EQ(parser.ignoredBytes(), 1u);
}

TEST(RequestParser, ResetForgetsAPartialFrame)
{
    RequestParser parser;
    parser.feed(fromHexBytes("02 30 31 30"));
    parser.reset();
    const QByteArray tail = fromHexBytes(kReadD100).mid(4);
    EXPECT_TRUE(parser.feed(tail).isEmpty()); // the tail alone forms no frame
    EXPECT_EQ(parser.bufferedBytes(), 0);
}

TEST(RequestParser, DropsAFrameLongerThanAnyRequest)
{
    RequestParser parser;
    QByteArray endless(1, '\x02');
    endless += QByteArray(RequestParser::MaxFrameLength, '0');
    EXPECT_TRUE(parser.feed(endless).isEmpty());
    EXPECT_LT(parser.bufferedBytes(), RequestParser::MaxFrameLength);
    const QVector<ParsedRequest> next = parser.feed(fromHexBytes(kReadD100));
    ASSERT_EQ(next.size(), 1);
    EXPECT_EQ(next.at(0).kind, Kind::BlockRead);
}

TEST(RequestParser, TakesTheLongestWriteThereIs)
{
    // Block write of 255 zero bytes at D0: "10100FF" + 510 x "0". Sum:
    // 31+30+31+30+30+46+46 = 17E, + 510 x 30 (5FA0) + 03 = 6121 -> 21.
    QByteArray frame = fromHexBytes("02 31 30 31 30 30 46 46");
    frame += QByteArray(510, '0');
    frame += fromHexBytes("03 32 31");
    ASSERT_EQ(frame.size(), RequestParser::MaxFrameLength);
    RequestParser parser;
    const QVector<ParsedRequest> done = parser.feed(frame);
    ASSERT_EQ(done.size(), 1);
    EXPECT_EQ(done.at(0).kind, Kind::BlockWrite);
    EXPECT_EQ(done.at(0).data.size(), 255);
}

TEST(RequestParser, SurvivesRandomBytesWithABoundedBuffer)
{
    std::mt19937 random(7);
    RequestParser parser;
    int completed = 0;
    for (int round = 0; round < 2000; ++round) {
        QByteArray chunk(static_cast<int>(random() % 64), '\0');
        for (char& c : chunk) // mostly protocol characters, so frames do form
            c = "\x02\x03\x05" "0123456789ABCDEF\x15\xFF"[random() % 21];
        completed += parser.feed(chunk).size();
        ASSERT_LE(parser.bufferedBytes(), RequestParser::MaxFrameLength);
    }
    EXPECT_GT(completed, 0);
}

} // namespace
