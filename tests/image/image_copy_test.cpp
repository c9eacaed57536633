// The image areas and the eight copy operations: the packing rules, partial
// arrays, growth of the host's array, and indexes at and beyond both ends of
// every area (out-of-area elements are skipped on store and read as 0).

#include "image/image_areas.h"
#include "support/qt_printers.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

class ImageCopy : public ::testing::Test {
protected:
    ImageArea area(const char* name) { return imageAreaOf(*image, QString::fromLatin1(name)); }
    void store(const char* name, qint32 start, const char* data, qint32 count)
    {
        storeValues(area(name), start, fromHexBytes(data), count);
    }
    QByteArray read(const char* name, qint32 start, qint32 count, QByteArray out = QByteArray())
    {
        readValues(area(name), start, out, count);
        return out;
    }
    bool imageEquals(const RegisterImage& other) const
    {
        return std::memcmp(image.get(), &other, sizeof(RegisterImage)) == 0;
    }

    std::unique_ptr<RegisterImage> image = std::make_unique<RegisterImage>();
};

TEST_F(ImageCopy, PackedBitsStoreOnlyTheValueOneAsSet)
{
    image->M[0] = 0x80; // M7 set beforehand
    image->M[1] = 0x01; // M8 set beforehand
    store("M", 6, "01 00 02", 3);
    EXPECT_EQ(image->M[0], 0x40); // M6 set, M7 cleared
    EXPECT_EQ(image->M[1], 0x00); // M8 (byte 1, bit 0) cleared: 2 is not 1
    EXPECT_EQ(read("M", 5, 4), fromHexBytes("00 01 00 00"));
}

TEST_F(ImageCopy, DBitSeesTheBitsOfTheDWords)
{
    store("D", 12, "05 01", 1);
    EXPECT_EQ(image->D[12], 261);
    EXPECT_EQ(read("D_bit", 12 * 16, 9), fromHexBytes("01 00 01 00 00 00 00 00 01"));
}

TEST_F(ImageCopy, WordBitsChangeOnlyTheAddressedBit)
{
    image->D[12] = 0x0005;
    store("D_bit", 12 * 16 + 15, "01", 1);
    EXPECT_EQ(image->D[12], 0x8005);
    store("D_bit", 12 * 16 + 2, "00", 1);
    EXPECT_EQ(image->D[12], 0x8001);
}

TEST_F(ImageCopy, StoresSkipElementsWhoseBytesTheArrayLacks)
{
    image->D[2] = 0x7777;
    store("D", 0, "01 02 03 04 05", 3); // third word has one byte only
    EXPECT_EQ(image->D[0], 0x0201);
    EXPECT_EQ(image->D[1], 0x0403);
    EXPECT_EQ(image->D[2], 0x7777);

    image->M[0] = 0xFF;
    store("M", 0, "00 00", 5); // bits 2..4 have no byte
    EXPECT_EQ(image->M[0], 0xFC);

    store("32CV", 0, "01 02 03 04 05 06 07", 4); // second counter has three bytes
    EXPECT_EQ(image->CV32[0], 0x04030201u);
    EXPECT_EQ(image->CV32[1], 0u);
}

TEST_F(ImageCopy, ReadsWriteFromByteZeroGrowTheArrayAndKeepLaterBytes)
{
    image->D[0] = 0x2211;
    image->D[1] = 0x4433;
    EXPECT_EQ(read("D", 0, 2, fromHexBytes("AA AA AA AA AA AA AA AA AA AA")),
              fromHexBytes("11 22 33 44 AA AA AA AA AA AA"));
    EXPECT_EQ(read("D", 0, 2), fromHexBytes("11 22 33 44"));
    EXPECT_EQ(read("D", 0, 2, fromHexBytes("AA")), fromHexBytes("11 22 33 44"));
}

TEST_F(ImageCopy, CountBelowOneDoesNothing)
{
    image->D[0] = 1;
    for (qint32 count : {0, -1, -2000000000}) {
        EXPECT_EQ(read("D", 0, count, fromHexBytes("AA")), fromHexBytes("AA"));
        EXPECT_EQ(read("M", 0, count), QByteArray());
        store("D", 0, "09 09", count);
    }
    EXPECT_EQ(image->D[0], 1);
}

TEST_F(ImageCopy, ThirtyTwoBitCountersCountSixteenBitHalves)
{
    store("32CV", 0, "01 02 03 04 05 06 07 08", 3); // 3 halves: one counter
    EXPECT_EQ(image->CV32[0], 0x04030201u);
    EXPECT_EQ(image->CV32[1], 0u);
    store("32CV", 0, "FF FF FF FF", 1); // half a counter: nothing
    EXPECT_EQ(image->CV32[0], 0x04030201u);

    image->CV32[1] = 0x0A0B0C0D;
    EXPECT_EQ(read("32CV", 0, 4), fromHexBytes("01 02 03 04 0D 0C 0B 0A"));
    EXPECT_EQ(read("32CV", 0, 3), fromHexBytes("01 02 03 04"));
    EXPECT_EQ(read("32CV", 0, 1, fromHexBytes("EE")), fromHexBytes("EE"));
}

TEST_F(ImageCopy, HighestIndexesLieWhereTheLayoutSays)
{
    store("X", 255, "01", 1);  // X377
    store("SM", 255, "01", 1); // SM8255
    EXPECT_EQ(image->X[31], 0x80);
    EXPECT_EQ(image->SM[31], 0x80);
}

// Every name, at its last register and just beyond, and from a negative start.
struct AreaRow {
    const char* name;
    qint64 elements; // register indexes the area holds, spare bytes included
    int bytesPerElement;
    int countPerElement; // 32CV counts halves
};

const AreaRow kAreas[] = {
    {"X", 264, 1, 1},   {"Y", 264, 1, 1},  {"M", 8000, 1, 1}, {"SM", 320, 1, 1},
    {"S", 1200, 1, 1},  {"T", 320, 1, 1},  {"C", 320, 1, 1},  {"D_bit", 128000, 1, 1},
    {"D", 8000, 2, 1},  {"SD", 256, 2, 1}, {"TV", 256, 2, 1}, {"CV", 200, 2, 1},
    {"32CV", 56, 4, 2},
};

class AreaEnds : public ImageCopy, public ::testing::WithParamInterface<AreaRow> {
protected:
    QByteArray ones(int elements) const
    {
        const int width = GetParam().bytesPerElement;
        QByteArray bytes(elements * width, '\0');
        for (int e = 0; e < elements; ++e)
            bytes[e * width] = 1; // value 1 in every type
        return bytes;
    }
    QByteArray zeros(int elements) const
    {
        return QByteArray(elements * GetParam().bytesPerElement, '\0');
    }
    void storeOnes(qint64 start, int elements)
    {
        const AreaRow& row = GetParam();
        storeValues(area(row.name), static_cast<qint32>(start), ones(elements),
                    elements * row.countPerElement);
    }
    QByteArray readFrom(qint64 start, qint64 elements)
    {
        const AreaRow& row = GetParam();
        return read(row.name, static_cast<qint32>(start),
                    static_cast<qint32>(elements * row.countPerElement));
    }
};

TEST_P(AreaEnds, StoresOutsideTheAreaTouchNothing)
{
    const RegisterImage before = *image;
    const qint64 end = GetParam().elements;
    storeOnes(end, 3);
    storeOnes(-5, 3);
    storeOnes(2000000000, 2);
    EXPECT_TRUE(imageEquals(before));
}

TEST_P(AreaEnds, StoresRunningOffEitherEndKeepOnlyTheElementsInside)
{
    const qint64 end = GetParam().elements;
    storeOnes(end - 1, 3);
    storeOnes(-2, 3);
    EXPECT_EQ(readFrom(end - 2, 2), zeros(1) + ones(1));
    EXPECT_EQ(readFrom(0, 2), ones(1) + zeros(1));
}

TEST_P(AreaEnds, ReadsOutsideTheAreaGiveZerosForEachElement)
{
    const qint64 end = GetParam().elements;
    storeOnes(0, 1);
    storeOnes(end - 1, 1);
    EXPECT_EQ(readFrom(-1, 2), zeros(1) + ones(1));
    EXPECT_EQ(readFrom(end - 1, 3), ones(1) + zeros(2));
    EXPECT_EQ(readFrom(end, 2), zeros(2));
    EXPECT_EQ(readFrom(-2000000000, 1), zeros(1));
}

TEST_P(AreaEnds, AHugeCountReadsNoMoreThanTheAreaHolds)
{
    const AreaRow& row = GetParam();
    const QByteArray all = read(row.name, 0, 2000000000);
    EXPECT_EQ(all.size(), row.elements * row.bytesPerElement);
    const QByteArray shifted = read(row.name, 2000000000, 2147483647);
    EXPECT_EQ(shifted, zeros(static_cast<int>(row.elements)));
}

INSTANTIATE_TEST_SUITE_P(EveryArea, AreaEnds, ::testing::ValuesIn(kAreas), [](const auto& info) {
    std::string name = info.param.name;
    return name == "32CV" ? std::string("CV32") : name;
});

TEST_F(ImageCopy, NamesOutsideTheTableSelectNothing)
{
    for (const char* name : {"Q", "x", "D_BIT", "", "d"}) {
        EXPECT_EQ(area(name).shape, AreaShape::None) << name;
        EXPECT_EQ(read(name, 0, 4, fromHexBytes("AB")), fromHexBytes("AB")) << name;
    }
}

} // namespace
