// The device areas and range checks of the virtual PLC, against the byte
// and bit ranges of a real programming port.

#include "device_memory.h"

#include <gtest/gtest.h>

namespace {

struct AreaRow {
    const char* name;
    qint64 first; // first byte address
    qint64 last;  // last byte address
    bool writable;
};

void PrintTo(const AreaRow& row, std::ostream* os)
{
    *os << row.name;
}

// The programming port's device ranges.
const AreaRow kAreas[] = {
    {"S0To999", 0x0000, 0x007C, true},
    {"X", 0x0080, 0x009F, false},
    {"Y", 0x00A0, 0x00BF, true},
    {"TContacts", 0x00C0, 0x00DF, true},
    {"M0To1535", 0x0100, 0x01BF, true},
    {"CContacts", 0x01C0, 0x01DF, true},
    {"M8000To8255", 0x01E0, 0x01FF, true},
    {"TV", 0x0800, 0x09FF, true},
    {"CV0To199", 0x0A00, 0x0B8F, true},
    {"C200To255", 0x0C00, 0x0CDF, true},
    {"D8000To8255", 0x0E00, 0x0FFF, true},
    {"D0To7999", 0x1000, 0x4E7F, true},
};

class DeviceArea : public ::testing::TestWithParam<AreaRow> {};

TEST_P(DeviceArea, SpansExactlyItsByteRange)
{
    const AreaRow& row = GetParam();
    DeviceMemory memory;
    EXPECT_TRUE(memory.isReadable(row.first, 1));
    EXPECT_TRUE(memory.isReadable(row.last, 1));
    EXPECT_TRUE(memory.isReadable(row.first, qMin<qint64>(row.last - row.first + 1, 64)));
    EXPECT_EQ(memory.isWritable(row.first, 1), row.writable);
    EXPECT_EQ(memory.isWritable(row.last, 1), row.writable);
    EXPECT_TRUE(memory.setByte(row.last, 0x5A)); // direct access reaches every area
    EXPECT_EQ(memory.byte(row.last), 0x5A);
}

INSTANTIATE_TEST_SUITE_P(DeviceMemory, DeviceArea, ::testing::ValuesIn(kAreas),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceMemory, EveryByteOutsideTheAreasIsRefused)
{
    DeviceMemory memory;
    int readable = 0;
    for (qint64 a = 0; a < 0x10000; ++a) {
        bool inTable = false;
        for (const AreaRow& row : kAreas)
            inTable = inTable || (a >= row.first && a <= row.last);
        EXPECT_EQ(memory.isReadable(a, 1), inTable) << "byte address " << a;
        readable += inTable ? 1 : 0;
    }
    EXPECT_EQ(readable, 0x7D + 5 * 0x20 + 0xC0 + 0x200 + 0x190 + 0xE0 + 0x200 + 0x3E80);
    EXPECT_EQ(memory.setByte(0x0200, 1), false);
    EXPECT_EQ(memory.byte(0x0200), 0);
}

TEST(DeviceMemory, RequestsMayCrossAdjoiningAreasButNotGaps)
{
    DeviceMemory memory;
    EXPECT_TRUE(memory.isReadable(0x009F, 2));  // X370..X377 then Y0..Y7
    EXPECT_FALSE(memory.isWritable(0x009F, 2)); // touches X
    EXPECT_TRUE(memory.isWritable(0x00A0, 2));
    EXPECT_FALSE(memory.isReadable(0x007C, 2)); // S992..S999, then the gap at 0x007D
    EXPECT_FALSE(memory.isReadable(0x4E7F, 2));
    EXPECT_FALSE(memory.isReadable(0xFFFF, 2));
    EXPECT_FALSE(memory.isReadable(0x1000, 0));
    EXPECT_FALSE(memory.isReadable(-1, 1));
}

struct ForceRow {
    const char* name;
    qint64 first; // first bit address
    qint64 last;  // last bit address
};

const ForceRow kForceRanges[] = {
    {"S", 0x0000, 0x03E7}, {"Y", 0x0500, 0x05FF}, {"T", 0x0600, 0x06FF},
    {"M", 0x0800, 0x0DFF}, {"C", 0x0E00, 0x0EFF}, {"M8000", 0x0F00, 0x0FFF},
};

TEST(DeviceMemory, ForcesReachExactlyTheForcedBitRanges)
{
    DeviceMemory memory;
    for (qint64 b = 0; b < 0x10000; ++b) {
        bool inTable = false;
        for (const ForceRow& row : kForceRanges)
            inTable = inTable || (b >= row.first && b <= row.last);
        EXPECT_EQ(memory.isForceable(b), inTable) << "bit address " << b;
    }
}

TEST(DeviceMemory, BitAddressIsBitOfTheSameByteSpace)
{
    DeviceMemory memory;
    EXPECT_TRUE(memory.setBit(0x0864, true)); // M100: byte 0x010C, bit 4
    EXPECT_EQ(memory.byte(0x010C), 0x10);
    EXPECT_TRUE(memory.setBit(0x0403, true)); // X3 by bit address: byte 0x0080, bit 3
    EXPECT_EQ(memory.byte(0x0080), 0x08);
    EXPECT_TRUE(memory.setBit(0x0864, false));
    EXPECT_EQ(memory.byte(0x010C), 0x00);
    EXPECT_FALSE(memory.setBit(0x1000, true)); // byte 0x0200: a gap
}

TEST(DeviceMemory, WordsAreLowByteFirstAndDoubleWordsLowWordFirst)
{
    DeviceMemory memory;
    memory.setDoubleWord(0x0C00, 0x12345678);
    EXPECT_EQ(memory.read(0x0C00, 4), QByteArray::fromHex("78563412"));
    EXPECT_EQ(memory.word(0x0C02), 0x1234);
    EXPECT_FALSE(memory.setWord(0x4E7F, 1)); // its high byte would lie outside D
    EXPECT_EQ(memory.byte(0x4E7F), 0);
}

} // namespace
