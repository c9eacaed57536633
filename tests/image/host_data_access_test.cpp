// The host's reads and writes: image-only writes, queue-mode splitting into
// write items (bit by bit, word blocks of BlockSize), the full list, and the
// read-back while the PLC is not answering. Queue-mode tests go through
// AddListWriteVar.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

class HostDataAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver.SetComInfo(comInfo);
        comInfo[ComInfoWord::BlockSize] = 32;
        comInfo[ComInfoWord::StationNo] = 6;
        comInfo[ComInfoWord::ItemParam1] = 140;
        comInfo[ComInfoWord::ItemParam2] = 150;
    }
    void queueMode() { comInfo[ComInfoWord::WriteMode] = WriteModeQueue; }
    qint32 set(const char* name, qint32 index, const char* values, qint32 count)
    {
        return driver.SetRegisterData(QString::fromLatin1(name), index, 9, fromHexBytes(values),
                                      count);
    }
    QByteArray get(const char* name, qint32 index, qint32 count, QByteArray out = QByteArray())
    {
        EXPECT_EQ(driver.GetRegisterData(QString::fromLatin1(name), index, 0, out, count), 1);
        return out;
    }
    void fillWriteList(int items)
    {
        VarItem filler;
        filler.RegName = QStringLiteral("D");
        filler.HostId = 99;
        for (int i = 0; i < items; ++i)
            driver.WriteVarList.append(filler);
    }

    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

TEST_F(HostDataAccess, ImageOnlyWriteOfXSetsX10AndX11)
{
    EXPECT_EQ(set("X", 8, "01 01", 2), 1);
    EXPECT_EQ(driver.Image.X[1], 0x03);
    EXPECT_EQ(get("X", 8, 2), fromHexBytes("01 01"));
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
    EXPECT_EQ(set("Q", 8, "01 01", 2), 1); // no area: nothing stored, still 1
}

TEST_F(HostDataAccess, QueueModeWritesBitsOneItemEach)
{
    queueMode();
    EXPECT_EQ(set("M", 10, "01 00 01", 3), 3);
    ASSERT_EQ(driver.WriteVarList.size(), 3);
    const char* values[] = {"01", "00", "01"};
    for (int k = 0; k < 3; ++k) {
        const VarItem& item = driver.WriteVarList.at(k);
        EXPECT_EQ(item.RegName, QStringLiteral("M"));
        EXPECT_EQ(item.Addr, 10 + k);
        EXPECT_EQ(item.Count, 1);
        EXPECT_EQ(item.Data, fromHexBytes(values[k]));
        EXPECT_EQ(item.HostId, 0);
        EXPECT_EQ(item.HostSubId, -1);
        EXPECT_EQ(item.OpKind, OpKindWrite);
        EXPECT_EQ(item.ItemParam1, 140);
        EXPECT_EQ(item.ItemParam2, 150);
        EXPECT_EQ(item.StationNo, 6);
        EXPECT_EQ(item.WorkA, 0);
        EXPECT_EQ(item.WorkB, 0);
    }
    EXPECT_EQ(get("M", 10, 3), fromHexBytes("00 00 00")); // the image waits for the builder
}

TEST_F(HostDataAccess, QueueModeSendsZeroForBitsTheArrayLacks)
{
    queueMode();
    EXPECT_EQ(set("D_bit", 163, "01", 3), 3);
    ASSERT_EQ(driver.WriteVarList.size(), 3);
    EXPECT_EQ(driver.WriteVarList.at(0).Data, fromHexBytes("01"));
    EXPECT_EQ(driver.WriteVarList.at(1).Data, fromHexBytes("00"));
    EXPECT_EQ(driver.WriteVarList.at(2).Data, fromHexBytes("00"));
    EXPECT_EQ(driver.WriteVarList.at(2).Addr, 165);
}

TEST_F(HostDataAccess, StationPerVarKeepsTheCallersStation)
{
    queueMode();
    comInfo[ComInfoWord::StationPerVar] = 1;
    set("Y", 0, "01", 1);
    ASSERT_EQ(driver.WriteVarList.size(), 1);
    EXPECT_EQ(driver.WriteVarList.first().StationNo, 9);
}

TEST_F(HostDataAccess, QueueModeCutsWordsIntoBlocksOfBlockSize)
{
    queueMode();
    QByteArray values;
    for (int i = 0; i < 130; ++i)
        values.append(static_cast<char>(i));
    // 70 words need 140 bytes; the array has 130, so the last block is padded.
    EXPECT_EQ(driver.SetRegisterData(QStringLiteral("D"), 0, 0, values, 70), 3);
    ASSERT_EQ(driver.WriteVarList.size(), 3);
    const qint32 addrs[] = {0, 32, 64};
    const qint32 counts[] = {32, 32, 6};
    for (int b = 0; b < 3; ++b) {
        const VarItem& item = driver.WriteVarList.at(b);
        EXPECT_EQ(item.Addr, addrs[b]);
        EXPECT_EQ(item.Count, counts[b]);
        ASSERT_EQ(item.Data.size(), 2 * counts[b]);
        EXPECT_EQ(item.Data.at(0), static_cast<char>(64 * b));
    }
    EXPECT_EQ(driver.WriteVarList.at(2).Data, fromHexBytes("80 81 00 00 00 00 00 00 00 00 00 00"));
}

TEST_F(HostDataAccess, QueueModeQueuesNothingForXUnknownNamesAndCountsBelowOne)
{
    queueMode();
    EXPECT_EQ(set("X", 0, "01", 1), 0);
    EXPECT_EQ(set("Q", 0, "01", 1), 0);
    EXPECT_EQ(set("m", 0, "01", 1), 0);
    EXPECT_EQ(set("D", 0, "01 00", 0), 0);
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
}

TEST_F(HostDataAccess, FullWriteListAddsNothingAndGives1024)
{
    queueMode();
    fillWriteList(PendingListLimit);
    EXPECT_EQ(set("M", 0, "01", 1), PendingListLimit);
    EXPECT_EQ(set("D", 0, "01 00", 1), PendingListLimit);
    // A huge count stops offering once the list is full instead of looping.
    EXPECT_EQ(set("M", 0, "01", 2000000000), PendingListLimit);
    EXPECT_EQ(set("D", 0, "01 00", 2000000000), PendingListLimit);
    EXPECT_EQ(driver.WriteVarList.size(), PendingListLimit);
    EXPECT_EQ(driver.WriteVarList.at(PendingListLimit - 1).HostId, 99);
}

TEST_F(HostDataAccess, ListFillingUpMidWriteGives1024)
{
    queueMode();
    fillWriteList(PendingListLimit - 2);
    EXPECT_EQ(set("M", 0, "01 01 01 01", 4), PendingListLimit);
    EXPECT_EQ(driver.WriteVarList.size(), PendingListLimit);
    EXPECT_EQ(driver.WriteVarList.at(PendingListLimit - 1).Addr, 1);
}

TEST_F(HostDataAccess, WhileCommFailedQueuedValuesReadBackAtOnce)
{
    queueMode();
    driver.CommFailed = 1;
    EXPECT_EQ(set("D", 100, "34 12 78 56", 2), 1);
    EXPECT_EQ(set("M", 10, "01 00 01", 3), 4);
    EXPECT_EQ(set("32CV", 3, "78 56 34 12", 2), 5);
    EXPECT_EQ(get("D", 100, 2), fromHexBytes("34 12 78 56"));
    EXPECT_EQ(get("M", 10, 3), fromHexBytes("01 00 01"));
    EXPECT_EQ(driver.Image.CV32[3], 0x12345678u);
}

TEST_F(HostDataAccess, WhileCommFailedAFullListStillTakesValuesIntoTheImage)
{
    queueMode();
    driver.CommFailed = 1;
    fillWriteList(PendingListLimit);
    EXPECT_EQ(set("M", 7998, "01 01 01 01", 4), PendingListLimit);
    EXPECT_EQ(get("M", 7998, 2), fromHexBytes("01 01"));
    EXPECT_EQ(set("D", 7990, "01 00 02 00", 2000000000), PendingListLimit);
    EXPECT_EQ(get("D", 7990, 3), fromHexBytes("01 00 02 00 00 00"));
    EXPECT_EQ(driver.WriteVarList.size(), PendingListLimit);
}

TEST_F(HostDataAccess, AddressesBeyondThe32BitIndexRangeAreNotQueued)
{
    queueMode();
    EXPECT_EQ(set("M", 2147483646, "01 01 01", 3), 2);
    EXPECT_EQ(driver.WriteVarList.size(), 2);
}

} // namespace
