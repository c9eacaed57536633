// The image areas: how large each is, that a store never reaches past its
// area, and the copy operations of each area shape (packed bits, bits of D
// words, words, 32-bit counters) at the ends of their areas.

#include "image/image_areas.h"
#include "image/image_units.h"
#include "support/qt_printers.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

void store(RegisterImage& image, const char* reg, qint32 start, const QByteArray& data, qint32 count)
{
    storeValues(imageAreaOf(image, QString::fromLatin1(reg)), start, data, count);
}

QByteArray read(RegisterImage& image, const char* reg, qint32 start, qint32 count, QByteArray out = {})
{
    readValues(imageAreaOf(image, QString::fromLatin1(reg)), start, out, count);
    return out;
}

// Each area's size, spare bytes included, in the elements a host counts:
// X and Y 33 bytes, M 1000, SM, T and C 40, S 150; D 8000 words (D_bit its
// bits), SD and TV 256, CV 200; 32CV 56 counters, counted in 16-bit halves.
// bytesPerElement in the host's arrays: 1 per bit, 2 per word, 2 per half counter.
struct AreaRow { const char* reg; qint32 elements; int bytesPerElement; };
const AreaRow kAreas[] = {
    {"X", 264, 1},   {"Y", 264, 1},   {"M", 8000, 1},  {"SM", 320, 1},  {"S", 1200, 1},
    {"T", 320, 1},   {"C", 320, 1},   {"D", 8000, 2},  {"D_bit", 128000, 1}, {"SD", 256, 2},
    {"TV", 256, 2},  {"CV", 200, 2},  {"32CV", 112, 2},
};

// Fills one area to its end with ones; only that area (and D with D_bit)
// reads back changed, and the element past its end reads 0.
TEST(ImageAreas, EachHoldsItsElementsAndNoMore)
{
    for (const AreaRow& filled : kAreas) {
        auto image = std::make_unique<RegisterImage>();
        const QByteArray ones(filled.elements * filled.bytesPerElement,
                              filled.bytesPerElement == 1 ? '\x01' : '\xFF');
        store(*image, filled.reg, 0, ones, filled.elements);
        EXPECT_EQ(read(*image, filled.reg, 0, filled.elements), ones) << filled.reg;
        const QByteArray past = read(*image, filled.reg, filled.elements, 1);
        EXPECT_EQ(past.count('\0'), past.size()) << filled.reg << " past its end";
        for (const AreaRow& other : kAreas) {
            if (&other == &filled || (*filled.reg == 'D' && *other.reg == 'D')) // D and D_bit
                continue;
            const QByteArray all = read(*image, other.reg, 0, other.elements);
            EXPECT_EQ(all.count('\0'), all.size()) << filled.reg << " reached " << other.reg;
        }
    }
}

// A store then a read of the same elements. The image starts as 0xA5 bytes
// (bits 0, 2, 5, 7 of each byte set) so that setting and clearing both
// show; `changed` applies the expected change to such an image, and the
// whole image is compared, so a store past its area shows.
using I = RegisterImage;

// clang-format off
struct CopyRow { const char *name, *reg; qint32 start, count; const char *values, *readBack; void (*changed)(I&); };
// clang-format on

class CopyOperations : public ::testing::TestWithParam<CopyRow> {};

TEST_P(CopyOperations, StoreOnlyInsideTheAreaAndReadBack)
{
    const CopyRow& r = GetParam();
    auto image = std::make_unique<RegisterImage>();
    auto expected = std::make_unique<RegisterImage>();
    std::memset(static_cast<void*>(image.get()), 0xA5, sizeof(RegisterImage));
    *expected = *image;
    r.changed(*expected);
    store(*image, r.reg, r.start, fromHexBytes(r.values), r.count);
    EXPECT_EQ(std::memcmp(image.get(), expected.get(), sizeof(RegisterImage)), 0);
    EXPECT_EQ(read(*image, r.reg, r.start, r.count), fromHexBytes(r.readBack));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, CopyOperations, ::testing::Values(
    // M6 set, M7 cleared, M8 (byte 1, bit 0) cleared: only the value 1 sets.
    CopyRow{"BitsOnlyOneSets",       "M",     6,      3, "01 00 02", "01 00 00", [](I& i) { setUnit(i, "M", 0, 0x65); setUnit(i, "M", 1, 0xA4); }},
    // X263 is bit 7 of byte 32, the last of the area; X264 lies outside.
    CopyRow{"BitsLastThenBeyond",    "X",     263,    2, "00 01",    "00 00", [](I& i) { setUnit(i, "X", 32, 0x25); }},
    // SM and S, neighbours in the bit areas: SM319 is the last bit of SM's 40 bytes.
    CopyRow{"SpecialRelaysLast",     "SM",    319,    2, "00 01",    "00 00", [](I& i) { setUnit(i, "SM", 39, 0x25); }},
    // D12 bit 14 set, bit 15 cleared, its other bits kept.
    CopyRow{"WordBitsKeepTheOthers", "D_bit", 206,    2, "01 00",    "01 00", [](I& i) { setUnit(i, "D", 12, 0x65A5); }},
    CopyRow{"WordBitsLastThenBeyond", "D_bit", 127999, 2, "00 01",   "00 00", [](I& i) { setUnit(i, "D", 7999, 0x25A5); }},
    // The second word lacks its high byte: it is left as it was.
    CopyRow{"WordsSkipAPartialWord", "D",     0,      2, "34 12 78", "34 12 A5 A5", [](I& i) { setUnit(i, "D", 0, 0x1234); }},
    CopyRow{"CounterValuesLast",     "CV",    199,    2, "34 12 78 56", "34 12 00 00", [](I& i) { setUnit(i, "CV", 199, 0x1234); }},
    // 32CV counts 16-bit halves: 4 are two counters, 3 one, 1 none.
    CopyRow{"CountersLastThenBeyond", "32CV", 55,     4, "78 56 34 12 01 02 03 04",
            "78 56 34 12 00 00 00 00", [](I& i) { setUnit(i, "32CV", 55, 0x12345678); }},
    CopyRow{"CountersOddCount",      "32CV",  0,      3, "78 56 34 12 01 02 03 04",
            "78 56 34 12", [](I& i) { setUnit(i, "32CV", 0, 0x12345678); }},
    CopyRow{"CountersHalfACounter",  "32CV",  0,      1, "FF FF FF FF", "", [](I&) {}},
    CopyRow{"UnknownNameStoresNothing", "Q",  0,      1, "01",       "", [](I&) {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(ImageAreas, ReadsWriteFromByteZeroAndKeepLaterBytes)
{
    auto image = std::make_unique<RegisterImage>();
    EXPECT_EQ(read(*image, "D", 0, 1, fromHexBytes("AA AA AA")), fromHexBytes("00 00 AA"));
    EXPECT_EQ(read(*image, "Q", 0, 4, fromHexBytes("09")), fromHexBytes("09"));
}

} // namespace
