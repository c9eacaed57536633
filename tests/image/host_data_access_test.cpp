// The host's reads and writes: the copy operations of each area shape
// (packed bits, bits of D words, words, 32-bit counters) at the ends of
// their areas, and queue-mode writes cut into write items.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class HostData : public ::testing::Test {
protected:
    void SetUp() override { driver.SetComInfo(comInfo); }
    void queueMode()
    {
        comInfo[ComInfoWord::WriteMode] = WriteModeQueue;
        comInfo[ComInfoWord::BlockSize] = 32;
    }
    qint32 set(const char* reg, qint32 index, const char* values, qint32 count)
    {
        const QString name = QString::fromLatin1(reg);
        return driver.SetRegisterData(name, index, 9, fromHexBytes(values), count);
    }
    QByteArray get(const char* reg, qint32 index, qint32 count, QByteArray out = QByteArray())
    {
        EXPECT_EQ(driver.GetRegisterData(QString::fromLatin1(reg), index, 0, out, count), 1);
        return out;
    }
    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

// An image-only write then a read of the same elements. The image starts as
// 0xA5 bytes (bits 0, 2, 5, 7 of each byte set) so that setting and clearing
// both show; `stored` applies the expected change to such an image.
using I = RegisterImage;

// clang-format off
struct CopyRow { const char *name, *reg; qint32 start, count; const char *values, *readBack; void (*stored)(I&); };
// clang-format on

class CopyOperations : public HostData, public ::testing::WithParamInterface<CopyRow> {};

TEST_P(CopyOperations, StoreOnlyInsideTheAreaAndReadBack)
{
    const CopyRow& r = GetParam();
    RegisterImage expected;
    std::memset(static_cast<void*>(&expected), 0xA5, sizeof expected);
    driver.Image = expected;
    r.stored(expected);
    EXPECT_EQ(set(r.reg, r.start, r.values, r.count), 1);
    EXPECT_EQ(std::memcmp(&driver.Image, &expected, sizeof expected), 0);
    EXPECT_EQ(get(r.reg, r.start, r.count), fromHexBytes(r.readBack));
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, CopyOperations, ::testing::Values(
    // M6 set, M7 cleared, M8 (byte 1, bit 0) cleared: only the value 1 sets.
    CopyRow{"BitsOnlyOneSets",       "M",     6,      3, "01 00 02", "01 00 00", [](I& i) { i.M[0] = 0x65; i.M[1] = 0xA4; }},
    // X263 is bit 7 of byte 32, the last of the area; X264 lies outside.
    CopyRow{"BitsLastThenBeyond",    "X",     263,    2, "00 01",    "00 00", [](I& i) { i.X[32] = 0x25; }},
    // D12 bit 14 set, bit 15 cleared, its other bits kept.
    CopyRow{"WordBitsKeepTheOthers", "D_bit", 206,    2, "01 00",    "01 00", [](I& i) { i.D[12] = 0x65A5; }},
    CopyRow{"WordBitsLastThenBeyond", "D_bit", 127999, 2, "00 01",   "00 00", [](I& i) { i.D[7999] = 0x25A5; }},
    // The second word lacks its high byte: it is left as it was.
    CopyRow{"WordsSkipAPartialWord", "D",     0,      2, "34 12 78", "34 12 A5 A5", [](I& i) { i.D[0] = 0x1234; }},
    // 32CV counts 16-bit halves: 4 are two counters, 3 one, 1 none.
    CopyRow{"CountersLastThenBeyond", "32CV", 55,     4, "78 56 34 12 01 02 03 04",
            "78 56 34 12 00 00 00 00", [](I& i) { i.CV32[55] = 0x12345678; }},
    CopyRow{"CountersOddCount",      "32CV",  0,      3, "78 56 34 12 01 02 03 04",
            "78 56 34 12", [](I& i) { i.CV32[0] = 0x12345678; }},
    CopyRow{"CountersHalfACounter",  "32CV",  0,      1, "FF FF FF FF", "", [](I&) {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(HostData, ReadsWriteFromByteZeroAndKeepLaterBytes)
{
    EXPECT_EQ(get("D", 0, 1, fromHexBytes("AA AA AA")), fromHexBytes("00 00 AA"));
}

TEST_F(HostData, QueueModeWritesBitsOneItemEach)
{
    queueMode();
    comInfo[ComInfoWord::StationNo] = 6;
    comInfo[ComInfoWord::ItemParam1] = 5;
    comInfo[ComInfoWord::ItemParam2] = -7;
    EXPECT_EQ(set("X", 0, "01", 1), 0); // inputs are not written to the PLC
    EXPECT_EQ(set("M", 10, "01", 3), 3); // M11 and M12 have no byte: they send 0
    ASSERT_EQ(driver.WriteVarList.size(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(driver.WriteVarList.at(k).Addr, 10 + k);
        EXPECT_EQ(driver.WriteVarList.at(k).Data, fromHexBytes(k == 0 ? "01" : "00"));
    }
    const VarItem& item = driver.WriteVarList.at(2);
    EXPECT_EQ(item.Count, 1);
    EXPECT_EQ(item.HostSubId, -1);
    EXPECT_EQ(item.OpKind, OpKindWrite);
    EXPECT_EQ(item.StationNo, 6);
    EXPECT_EQ(item.ItemParam1, 5);
    EXPECT_EQ(item.ItemParam2, -7);
    EXPECT_EQ(get("M", 10, 1), fromHexBytes("00")); // the image waits for the request
    comInfo[ComInfoWord::StationPerVar] = 1;
    set("Y", 0, "01", 1);
    EXPECT_EQ(driver.WriteVarList.at(3).StationNo, 9); // the caller's station
}

// BlockSize 32, D0 count 70: (0, 32), (32, 32), (64, 6); the array's 130
// bytes end inside the last block (from byte 128), which is padded with zeros.
TEST_F(HostData, QueueModeCutsWordsIntoBlocksOfBlockSize)
{
    queueMode();
    const QByteArray values = QByteArray(128, '\0') + QByteArray("\x80\x81", 2);
    EXPECT_EQ(driver.SetRegisterData(QStringLiteral("D"), 0, 0, values, 70), 3);
    ASSERT_EQ(driver.WriteVarList.size(), 3);
    EXPECT_EQ(driver.WriteVarList.at(2).Addr, 64);
    EXPECT_EQ(driver.WriteVarList.at(2).Count, 6);
    EXPECT_EQ(driver.WriteVarList.at(2).Data, fromHexBytes("80 81 00 00 00 00 00 00 00 00 00 00"));
}

// A full list takes no more items; while the PLC is not answering, written
// values still reach the image at once, also the pieces the list did not take.
TEST_F(HostData, FullListTakesNoMoreButWhileCommFailedTheImageDoes)
{
    queueMode();
    EXPECT_EQ(set("M", 1000, "", PendingListLimit - 2), PendingListLimit - 2); // one item per bit
    driver.CommFailed = 1;
    EXPECT_EQ(set("M", 10, "01 00 01 01", 4), PendingListLimit);
    EXPECT_EQ(driver.WriteVarList.size(), PendingListLimit);
    EXPECT_EQ(get("M", 10, 4), fromHexBytes("01 00 01 01"));
    EXPECT_EQ(set("32CV", 3, "78 56 34 12", 2), PendingListLimit);
    EXPECT_EQ(driver.Image.CV32[3], 0x12345678u);
}

} // namespace
