// Request frames byte for byte, a row for every register type. Every frame
// and sum is worked by hand from the programming-port rules: the sum is the
// low 8 bits of the bytes after STX through ETX ("0" "10C8" "02" ETX:
// 0x30+0x31+0x30+0x43+0x38+0x30+0x32+0x03 = 0x171, sum "71"). Read and write
// addresses go most significant digit first, force bit addresses low byte
// first. Byte addresses: S 0x0000, X 0x0080, Y 0x00A0, T 0x00C0, M 0x0100,
// C 0x01C0, M8000 0x01E0, TV 0x0800, CV 0x0A00, 32CV 0x0C00, D8000 0x0E00,
// D 0x1000; bit addresses: S 0x0000, Y 0x0500, T 0x0600, M 0x0800, C 0x0E00,
// M8000 0x0F00.

#include "protocol/read_requests.h"
#include "protocol/write_requests.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr const char* kRead = nullptr; // a row without data builds a read

// HostId 7, in the host's field order.
VarItem item(const char* reg, qint32 addr, qint32 count, const char* data = kRead)
{
    return {7, 0, data ? OpKindWrite : OpKindRead, 0, 0, 0, QString::fromLatin1(reg), {}, 0, addr, 0,
            count, 0, 0, fromHexBytes(data ? data : "")};
}

RequestFrames build(const VarItem& it)
{
    return it.OpKind == OpKindWrite ? BuildWriteRequest(it) : BuildReadRequest(it);
}

// data: kRead, or the write item's Data.
// clang-format off
struct FrameRow { const char *name, *reg; qint32 addr, count; const char *data, *frame; qint32 replyLength; };
// clang-format on

class ByteExactFrames : public ::testing::TestWithParam<FrameRow> {};

TEST_P(ByteExactFrames, AreByteExactWithTheirReplyShape)
{
    const FrameRow& r = GetParam();
    const RequestFrames frames = build(item(r.reg, r.addr, r.count, r.data));
    ASSERT_EQ(frames.size(), 1u);
    const RequestFrame& f = frames.front();
    EXPECT_EQ(f.FrameBytes, fromHexBytes(r.frame));
    EXPECT_EQ(f.SendLength, f.FrameBytes.size());
    EXPECT_EQ(f.ReplyLength, r.replyLength);
    EXPECT_EQ(f.DataStart, r.data ? 0 : 1);
    EXPECT_EQ(f.DataChars, r.data ? 0 : r.replyLength - 4);
    EXPECT_EQ(f.Item.HostId, 7);
    EXPECT_EQ(f.Item.Addr, r.addr);
}

const auto rowName = [](const auto& info) { return std::string(info.param.name); };

// Bit reads count bytes; the lists deliver addresses on a byte (Y13 still reads Y10..Y17).
// clang-format off
INSTANTIATE_TEST_SUITE_P(BitReads, ByteExactFrames, ::testing::Values(
    FrameRow{"X0ToX7",           "X",  0,   1, kRead, "02 30 30 30 38 30 30 31 03 35 43", 6},
    FrameRow{"Y13RoundsDown",    "Y",  13,  1, kRead, "02 30 30 30 41 31 30 31 03 36 36", 6},
    FrameRow{"M16TwoBytes",      "M",  16,  2, kRead, "02 30 30 31 30 32 30 32 03 35 38", 8},
    FrameRow{"SM8000",           "SM", 0,   1, kRead, "02 30 30 31 45 30 30 31 03 36 41", 6},
    FrameRow{"S992",             "S",  992, 1, kRead, "02 30 30 30 37 43 30 31 03 36 45", 6},
    FrameRow{"T8",               "T",  8,   1, kRead, "02 30 30 30 43 31 30 31 03 36 38", 6},
    FrameRow{"C248",             "C",  248, 1, kRead, "02 30 30 31 44 46 30 31 03 37 46", 6}), rowName);

INSTANTIATE_TEST_SUITE_P(WordReads, ByteExactFrames, ::testing::Values(
    FrameRow{"D100",             "D",     100,   1,   kRead, "02 30 31 30 43 38 30 32 03 37 31", 8},
    FrameRow{"DBitWordD5",       "D_bit", 5,     1,   kRead, "02 30 31 30 30 41 30 32 03 36 37", 8},
    FrameRow{"D8255",            "SD",    255,   1,   kRead, "02 30 30 46 46 45 30 32 03 39 36", 8},
    FrameRow{"TV10ThreeWords",   "TV",    10,    3,   kRead, "02 30 30 38 31 34 30 36 03 36 36", 16},
    FrameRow{"CV199",            "CV",    199,   1,   kRead, "02 30 30 42 38 45 30 32 03 38 34", 8},
    // 32CV: 4 x Count - 4 bytes, one counter per index from the first to the last.
    FrameRow{"C203OneCounter",   "32CV",  3,     2,   kRead, "02 30 30 43 30 43 30 34 03 37 44", 12},
    FrameRow{"CV32CountOneNoData", "32CV", 0,    1,   kRead, "02 30 30 43 30 30 30 30 03 36 36", 4},
    // 400 bytes = 0x190: the count field carries "90", the reply shape all 400.
    FrameRow{"CountLow8Bits",    "D",     0,     200, kRead, "02 30 31 30 30 30 39 30 03 35 44", 804},
    // 0x1000 + 2 x 32000 = 0x10A00: only "0A00" goes on the line.
    FrameRow{"AddressLow16Bits", "D",     32000, 1,   kRead, "02 30 30 41 30 30 30 32 03 36 36", 8}), rowName);

// Only the data byte 1 forces ON; 0, 2 and no byte at all force OFF.
INSTANTIATE_TEST_SUITE_P(Forces, ByteExactFrames, ::testing::Values(
    FrameRow{"OffY0SumIs0x100",  "Y",  0,   1, "00", "02 38 30 30 30 35 03 30 30", 1},
    FrameRow{"OnY5",             "Y",  5,   1, "01", "02 37 30 35 30 35 03 30 34", 1},
    FrameRow{"ValueTwoIsOff",    "Y",  5,   1, "02", "02 38 30 35 30 35 03 30 35", 1},
    FrameRow{"EmptyDataIsOff",   "Y",  5,   1, "",   "02 38 30 35 30 35 03 30 35", 1},
    FrameRow{"OnM100",           "M",  100, 1, "01", "02 37 36 34 30 38 03 30 43", 1},
    FrameRow{"OnM8002",          "SM", 2,   1, "01", "02 37 30 32 30 46 03 31 32", 1},
    FrameRow{"OffS999",          "S",  999, 1, "00", "02 38 45 37 30 33 03 31 41", 1},
    FrameRow{"OnT255",           "T",  255, 1, "01", "02 37 46 46 30 36 03 32 43", 1},
    FrameRow{"OnC0",             "C",  0,   1, "01", "02 37 30 30 30 45 03 30 46", 1},
    FrameRow{"OffC255",          "C",  255, 1, "00", "02 38 46 46 30 45 03 33 43", 1}), rowName);

// Words go low byte first: 0x1234 as "3412".
INSTANTIATE_TEST_SUITE_P(BlockWrites, ByteExactFrames, ::testing::Values(
    FrameRow{"D100Word1234",     "D",    100, 1, "34 12", "02 31 31 30 43 38 30 32 33 34 31 32 03 33 43", 1},
    FrameRow{"D200OneD201Minus1", "D",   200, 2, "01 00 FF FF", "02 31 31 31 39 30 30 34 30 31 30 30 46 46 46 46 03 33 43", 1},
    FrameRow{"D8000Ten",         "SD",   0,   1, "0A 00", "02 31 30 45 30 30 30 32 30 41 30 30 03 33 43", 1},
    FrameRow{"TV255",            "TV",   255, 1, "34 12", "02 31 30 39 46 45 30 32 33 34 31 32 03 35 34", 1},
    FrameRow{"CV0",              "CV",   0,   1, "FF 00", "02 31 30 41 30 30 30 32 46 46 30 30 03 35 33", 1},
    FrameRow{"C200DoubleWord",   "32CV", 0,   2, "78 56 34 12", "02 31 30 43 30 30 30 34 37 38 35 36 33 34 31 32 03 30 46", 1},
    FrameRow{"ShortDataZeroPadded", "D", 100, 2, "34 12", "02 31 31 30 43 38 30 34 33 34 31 32 30 30 30 30 03 46 45", 1},
    // 128 words (256 bytes) do not fit the count field: count "00", no data, refused by the PLC.
    FrameRow{"Count128GoesOutEmpty", "D", 0,  128, "11",  "02 31 31 30 30 30 30 30 03 35 35", 1}), rowName);
// clang-format on

// The read's word with the item's bit applied, then the word (low byte
// first) and the sum over characters 1 to 12 written into the placeholder.
#define WRITE_D10 "02 31 31 30 31 34 30 32 " // STX "1" "1014" "02", then the word
constexpr const char* kPlaceholder = WRITE_D10 "30 30 30 30 03 30 30";

struct PairRow { const char* name; quint16 read; qint32 addr; const char *data, *queued, *sent; };

class PairCompletion : public ::testing::TestWithParam<PairRow> {};

TEST_P(PairCompletion, WritesTheWordAndItsSumIntoThePlaceholder)
{
    const PairRow& r = GetParam();
    const quint16 word = applyWriteBit(r.read, item("D_bit", r.addr, 1, r.data));
    EXPECT_EQ(completeBitOfWordWrite(fromHexBytes(r.queued), word), fromHexBytes(r.sent));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, PairCompletion, ::testing::Values(
    // D10 = 0 with bit 3 set: 0x0008, "0800"; sum 0x224.
    PairRow{"SetBit3OfZero",         0x0000, 163, "01", kPlaceholder, WRITE_D10 "30 38 30 30 03 32 34"},
    PairRow{"ClearBit3OfFFFF",       0xFFFF, 163, "00", kPlaceholder, WRITE_D10 "46 37 46 46 03 36 35"},
    PairRow{"SetBit15",              0x0000, 175, "01", kPlaceholder, WRITE_D10 "30 30 38 30 03 32 34"},
    PairRow{"ValueTwoKeepsTheWord",  0xFFFF, 163, "02", kPlaceholder, WRITE_D10 "46 46 46 46 03 37 34"},
    PairRow{"NoDataKeepsTheWord",    0x3412, 163, "",   kPlaceholder, WRITE_D10 "31 32 33 34 03 32 36"},
    PairRow{"ShortFrameLeftAlone",   0x0000, 163, "01", "02 31 31",   "02 31 31"}), [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(RequestLimits, TheCountFieldAndTheReplyShapeNeverWrap)
{
    // 254 bytes, the most a write can carry: "FE", zero-padded data.
    const RequestFrame longest = BuildWriteRequest(item("D", 0, 127, "")).front();
    EXPECT_EQ(longest.FrameBytes.mid(6, 2), QByteArray("FE"));
    EXPECT_EQ(longest.SendLength, 4 * 127 + 11);
    // A read of 4 x Count - 4 bytes for Count 2^31 - 1: the reply shape saturates.
    const RequestFrame read = BuildReadRequest(item("32CV", 0, std::numeric_limits<qint32>::max())).front();
    EXPECT_EQ(read.ReplyLength, std::numeric_limits<qint32>::max());
}

// Names are compared exactly; inputs have no write request.
TEST(RequestLimits, NamesOutsideTheTableAndXWritesBuildNothing)
{
    for (const char* data : {kRead, "01 00"})
        for (const char* name : {"x", "y", "D_BIT", "d_bit", "32cv", "Sm", "Q", ""})
            EXPECT_TRUE(build(item(name, 0, 1, data)).empty()) << name;
    EXPECT_TRUE(BuildWriteRequest(item("X", 0, 1, "01")).empty());
}

} // namespace
