// Accepted data replies decoded into the image: where each register type's
// data land, how characters read, and that a decoder stays inside the reply
// and its area. Sums by hand: the low 8 bits of the bytes after STX through
// ETX ("1234" ETX: 0x31 + 0x32 + 0x33 + 0x34 + 0x03 = 0xCD, sum "CD").

#include "image/image_units.h"
#include "image/reply_decoders.h"
#include "support/qt_printers.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

namespace {

constexpr const char* kGood1234 = "02 31 32 33 34 03 43 44";
constexpr const char* kFFFF = "02 46 46 46 46 03 31 42"; // 0x46 x 4 + 0x03 = 0x11B

// The whole image after decoding is compared with `expected` applied to an
// all-zero image, so any element stored outside the area shows.
using I = RegisterImage;
// clang-format off
struct DecodeRow { const char *name, *reg; qint32 addr, dataStart, dataChars; const char* reply; void (*expected)(I&); };
// clang-format on

class Decoding : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(Decoding, StoresTheElementsInsideReplyAndArea)
{
    const DecodeRow& r = GetParam();
    RequestFrame head;
    head.Item.RegName = QString::fromLatin1(r.reg);
    head.Item.Addr = r.addr;
    head.DataStart = r.dataStart;
    head.DataChars = r.dataChars;
    auto image = std::make_unique<RegisterImage>();
    auto expected = std::make_unique<RegisterImage>();
    DecodeReply(*image, head, fromHexBytes(r.reply));
    r.expected(*expected);
    EXPECT_EQ(std::memcmp(image.get(), expected.get(), sizeof(RegisterImage)), 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, Decoding, ::testing::Values(
    // M16..M23 come in one byte, lowest bit first: M16 M18 M21 M23 on.
    DecodeRow{"BitsLandAtAddrOverEight", "M",     16,   1,  2,    "02 41 35 03 37 39", [](I& i) { setUnit(i, "M", 2, 0xA5); }},
    DecodeRow{"LowercaseDigits",         "M",     16,   1,  2,    "02 61 35 03 39 39", [](I& i) { setUnit(i, "M", 2, 0xA5); }},
    // Characters that are no digits read by (c - 55) mod 16: '~' (126) is 7.
    DecodeRow{"NonDigitsByTheRule",      "S",     8,    1,  2,    "02 7E 7E 03 46 46", [](I& i) { setUnit(i, "S", 1, 0x77); }},
    // X256 lies in byte 32, the last of the X area; the second byte has no place.
    DecodeRow{"LastBitByteThenBeyond",   "X",     256,  1,  4,    kFFFF,     [](I& i) { setUnit(i, "X", 32, 0xFF); }},
    DecodeRow{"WordLowByteFirst",        "D",     100,  1,  4,    kGood1234, [](I& i) { setUnit(i, "D", 100, 0x3412); }},
    DecodeRow{"DBitBlockFillsDWords",    "D_bit", 0,    1,  4,    kGood1234, [](I& i) { setUnit(i, "D", 0, 0x3412); }},
    DecodeRow{"TimerValue",              "TV",    255,  1,  4,    kGood1234, [](I& i) { setUnit(i, "TV", 255, 0x3412); }},
    DecodeRow{"LastWordThenBeyond",      "D",     7999, 1,  8,    "02 31 32 33 34 35 36 37 38 03 41 37",
              [](I& i) { setUnit(i, "D", 7999, 0x3412); }},
    // "78563412" twice: 2 x 0x1A4 + 0x03 = 0x34B.
    DecodeRow{"LastCounterThenBeyond",   "32CV",  55,   1,  16,
              "02 37 38 35 36 33 34 31 32 37 38 35 36 33 34 31 32 03 34 42", [](I& i) { setUnit(i, "32CV", 55, 0x12345678); }},
    DecodeRow{"UnknownNameStoresNothing", "Q",    0,    1,  4,    kGood1234, [](I&) {}},
    // Records the host may have scribbled on: decoding stays inside the reply.
    DecodeRow{"DataCharsBeyondTheReply", "D",     10,   1,  std::numeric_limits<qint32>::max(), kGood1234, [](I& i) { setUnit(i, "D", 10, 0x3412); }},
    // Words 0 and 1 would start before the reply; word 2 is "23", "4" ETX (ETX reads as 0).
    DecodeRow{"DataStartBeforeTheReply", "D",     10,   -6, 40,   kGood1234, [](I& i) { setUnit(i, "D", 12, 0x4023); }}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// The word a D_bit pair's read brings: the last whole word of the data, or 0.
TEST(LastReplyWord, IsTheLastWholeWordOrZero)
{
    const QByteArray twoWords = fromHexBytes("02 31 32 33 34 35 36 37 38 03 41 37");
    for (const auto& [dataChars, word] : {std::pair{8, 0x7856}, {4, 0x3412}, {3, 0}, {0, 0}}) {
        RequestFrame head;
        head.DataStart = 1;
        head.DataChars = dataChars;
        EXPECT_EQ(lastReplyWord(head, twoWords), word) << dataChars;
    }
}

} // namespace
