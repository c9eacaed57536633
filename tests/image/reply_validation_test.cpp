// Replies judged against the head request (result codes with their HostId
// offsets), accepted data decoded into the image, and the write half of a
// D_bit pair completed from the read's reply. Sums worked by hand: the low
// 8 bits of the bytes after STX through ETX ("1234" ETX: 0x31 + 0x32 + 0x33
// + 0x34 + 0x03 = 0xCD, sum "CD").

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr const char* kGood1234 = "02 31 32 33 34 03 43 44";
constexpr const char* kFFFF = "02 46 46 46 46 03 31 42"; // 0x46 x 4 + 0x03 = 0x11B
constexpr qint32 kAck = -1; // data bytes of a write or force: the reply is one ACK byte
// kSize: the caller's length is the reply's size.
constexpr qint32 kSize = std::numeric_limits<qint32>::min();

class Replies : public ::testing::Test {
protected:
    void SetUp() override { driver.SetComInfo(comInfo); }
    // Queues the head request as the builders shape it: a read of `dataBytes` bytes, or kAck.
    RequestFrame& expect(const char* reg, qint32 addr, qint32 dataBytes, qint32 hostId = 0)
    {
        RequestFrame f;
        f.ReplyLength = dataBytes == kAck ? 1 : 2 * dataBytes + 4;
        f.DataStart = dataBytes == kAck ? 0 : 1;
        f.DataChars = dataBytes == kAck ? 0 : 2 * dataBytes;
        f.Item.RegName = QString::fromLatin1(reg);
        f.Item.Addr = addr;
        f.Item.HostId = hostId;
        driver.FrameQueue.append(f);
        return driver.FrameQueue.at(driver.FrameQueue.size() - 1);
    }
    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

// clang-format off
struct CodeRow { const char* name; qint32 dataBytes, hostId; const char* reply; qint32 length, result; };
// clang-format on

class ReplyCodes : public Replies, public ::testing::WithParamInterface<CodeRow> {};

TEST_P(ReplyCodes, JudgeLengthFramingAndSum)
{
    const CodeRow& r = GetParam();
    expect("D", 100, r.dataBytes, r.hostId);
    const QByteArray reply = fromHexBytes(r.reply);
    const qint32 length = r.length == kSize ? static_cast<qint32>(reply.size()) : r.length;
    EXPECT_EQ(driver.ValidateReply(reply, length), r.result);
    // Only an accepted data reply reaches the image: "1234" is D100 = 0x3412.
    EXPECT_EQ(driver.Image.D[100], r.result == ReplyAccepted && r.dataBytes == 2 ? 0x3412 : 0);
}

const auto rowName = [](const auto& info) { return std::string(info.param.name); };

// Bad frame 11, no reply 41, wrong length 71, each plus the HostId when it lies in 0..11.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, ReplyCodes, ::testing::Values(
    CodeRow{"AckToWrite",           kAck, 0,  "06",                      kSize, 1},
    CodeRow{"TwoBytesToWrite",      kAck, 0,  "06 06",                   kSize, 71},
    CodeRow{"NakHostId3",           kAck, 3,  "15",                      kSize, 14},
    CodeRow{"TwoBytesHostId11",     kAck, 11, "06 06",                   kSize, 82},
    CodeRow{"NakHostId12NoOffset",  kAck, 12, "15",                      kSize, 11},
    CodeRow{"NothingHostIdMinus1",  kAck, -1, "",                        kSize, 41},
    CodeRow{"GoodData",             2,    0,  kGood1234,                 kSize, 1},
    CodeRow{"WrongSum",             2,    0,  "02 31 32 33 34 03 43 45", kSize, 11},
    CodeRow{"LowercaseSum",         2,    0,  "02 31 32 33 34 03 63 64", kSize, 11},
    CodeRow{"NoStx",                2,    0,  "06 31 32 33 34 03 43 44", kSize, 11},
    CodeRow{"NoEtx",                2,    0,  "02 31 32 33 34 04 43 44", kSize, 11},
    CodeRow{"NakToRead",            2,    0,  "15",                      kSize, 71},
    // STX ETX and a right sum but no data byte: a data frame needs one.
    CodeRow{"NoDataByte",           0,    0,  "02 03 30 33",             kSize, 11},
    // Only bytes the reply really holds are judged, whatever the lengths say.
    CodeRow{"LengthBeyondTheReply", 2,    0,  "06",                      8,     71},
    // A head scribbled to ReplyLength -8 (2 x -6 + 4) with a caller's length -8.
    CodeRow{"NegativeReplyLength",  -6,   0,  kGood1234,                 -8,    11}), rowName);
// clang-format on

// The whole image after decoding is compared with `expected` applied to an
// all-zero image, so any element stored outside the area shows.
using I = RegisterImage;

// clang-format off
struct DecodeRow { const char *name, *reg; qint32 addr, dataStart, dataChars; const char* reply; void (*expected)(I&); };
// clang-format on

class Decoding : public Replies, public ::testing::WithParamInterface<DecodeRow> {};

TEST_P(Decoding, StoresTheElementsInsideReplyAndArea)
{
    const DecodeRow& r = GetParam();
    const QByteArray reply = fromHexBytes(r.reply);
    RequestFrame& head = expect(r.reg, r.addr, static_cast<qint32>(reply.size() - 4) / 2);
    head.DataStart = r.dataStart;
    head.DataChars = r.dataChars;
    EXPECT_EQ(driver.ValidateReply(reply, head.ReplyLength), ReplyAccepted);
    RegisterImage expected;
    r.expected(expected);
    EXPECT_EQ(std::memcmp(&driver.Image, &expected, sizeof expected), 0);
}


// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, Decoding, ::testing::Values(
    // M16..M23 come in one byte, lowest bit first: M16 M18 M21 M23 on.
    DecodeRow{"BitsLandAtAddrOverEight", "M",     16,   1,  2,    "02 41 35 03 37 39", [](I& i) { i.M[2] = 0xA5; }},
    DecodeRow{"LowercaseDigits",         "M",     16,   1,  2,    "02 61 35 03 39 39", [](I& i) { i.M[2] = 0xA5; }},
    // X256 lies in byte 32, the last of the X area; the second byte has no place.
    DecodeRow{"LastBitByteThenBeyond",   "X",     256,  1,  4,    kFFFF,     [](I& i) { i.X[32] = 0xFF; }},
    DecodeRow{"WordLowByteFirst",        "D",     100,  1,  4,    kGood1234, [](I& i) { i.D[100] = 0x3412; }},
    DecodeRow{"DBitBlockFillsDWords",    "D_bit", 0,    1,  4,    kGood1234, [](I& i) { i.D[0] = 0x3412; }},
    DecodeRow{"LastWordThenBeyond",      "D",     7999, 1,  8,    "02 31 32 33 34 35 36 37 38 03 41 37",
              [](I& i) { i.D[7999] = 0x3412; }},
    // "78563412" twice: 2 x 0x1A4 + 0x03 = 0x34B.
    DecodeRow{"LastCounterThenBeyond",   "32CV",  55,   1,  16,
              "02 37 38 35 36 33 34 31 32 37 38 35 36 33 34 31 32 03 34 42", [](I& i) { i.CV32[55] = 0x12345678; }},
    // Records the host may have scribbled on: decoding stays inside the reply.
    DecodeRow{"DataCharsBeyondTheReply", "D",     10,   1,  std::numeric_limits<qint32>::max(), kGood1234, [](I& i) { i.D[10] = 0x3412; }},
    // Words 0 and 1 would start before the reply; word 2 is "23", "4" ETX (ETX reads as 0).
    DecodeRow{"DataStartBeforeTheReply", "D",     10,   -6, 40,   kGood1234, [](I& i) { i.D[12] = 0x4023; }}),
    rowName);
// clang-format on

// The read half of a D_bit pair (bit 3 of D10) completes the queued write:
// the word at characters 8..11, low byte first, then the sum at 13..14.
#define WRITE_D10 "02 31 31 30 31 34 30 32 " // STX "1" "1014" "02", then the word
constexpr const char* kPlaceholder = WRITE_D10 "30 30 30 30 03 30 30";

constexpr qint32 kPair = OpKindReadBeforeWrite;
struct PairRow { const char* name; qint32 opKind; const char *data, *reply, *queued, *sent; };

class PairCompletion : public Replies, public ::testing::WithParamInterface<PairRow> {};

TEST_P(PairCompletion, WritesTheWordAndItsSumIntoTheNextFrame)
{
    const PairRow& r = GetParam();
    expect("D_bit", 10, 2).Item.OpKind = r.opKind;
    expect("D_bit", 163, kAck).FrameBytes = fromHexBytes(r.queued);
    VarItem item; // the write item the pair serves, first in WriteVarList
    item.Addr = 163;
    item.Data = fromHexBytes(r.data ? r.data : "");
    if (r.data)
        driver.WriteVarList.append(item);
    EXPECT_EQ(driver.ValidateReply(fromHexBytes(r.reply), 8), ReplyAccepted);
    EXPECT_EQ(driver.FrameQueue.at(1).FrameBytes, fromHexBytes(r.sent));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, PairCompletion, ::testing::Values(
    PairRow{"SetBit3OfZero",         kPair, "01",    "02 30 30 30 30 03 43 33", kPlaceholder, WRITE_D10 "30 38 30 30 03 32 34"},
    PairRow{"ClearBit3OfFFFF",       kPair, "00",    kFFFF,     kPlaceholder, WRITE_D10 "46 37 46 46 03 36 35"},
    PairRow{"ValueTwoKeepsTheWord",  kPair, "02",    kFFFF,     kPlaceholder, WRITE_D10 "46 46 46 46 03 37 34"},
    PairRow{"NoWriteItemSendsWord",  kPair, nullptr, kGood1234, kPlaceholder, WRITE_D10 "31 32 33 34 03 32 36"},
    PairRow{"PlainReadLeavesNext",   OpKindRead, "01", kGood1234, kPlaceholder, kPlaceholder},
    PairRow{"ShortNextFrameLeftAlone", kPair, "01",  kGood1234, "02 31 31",   "02 31 31"}), rowName);
// clang-format on

} // namespace
