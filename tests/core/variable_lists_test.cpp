// How items enter the three lists: limits, the one-shot split into blocks,
// duplicates, and what the caller's record looks like afterwards.

#include "core/driver_harness.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

TEST(VariableLists, ReadListTakesUnchangedCopiesWithoutLimit)
{
    DriverHarness h;
    VarItem item = makeItem("D", -7, 100000, 5, 6);
    item.WorkA = 9;
    for (int i = 1; i <= 1500; ++i)
        ASSERT_EQ(h.driver.AddListReadVar(item), i);
    const VarItem& kept = h.driver.ReadVarList.at(1499);
    EXPECT_EQ(kept.Addr, -7);
    EXPECT_EQ(kept.Count, 100000);
    EXPECT_EQ(kept.WorkA, 9);
}

TEST(VariableLists, WriteListAppendsUpTo1024ThenDropsSilently)
{
    DriverHarness h;
    for (int i = 0; i < 1023; ++i)
        h.driver.AddListWriteVar(makeItem("D", i, 1, i));
    EXPECT_EQ(h.driver.AddListWriteVar(makeItem("D", 1023, 1, 1023)), 1024);
    EXPECT_EQ(h.driver.AddListWriteVar(makeItem("D", 1024, 1, 1024)), 1024);
    EXPECT_EQ(h.driver.WriteVarList.size(), 1024);
    EXPECT_EQ(h.driver.WriteVarList.at(1023).HostId, 1023);
}

struct SplitRow {
    const char* name;
    const char* regName;
    qint32 addr;
    qint32 count;
    qint32 blockSize;
    std::vector<Span> blocks;
};

class OnceReadSplit : public ::testing::TestWithParam<SplitRow> {};

TEST_P(OnceReadSplit, QueuesTheBlocksAndLeavesTheLastInTheRecord)
{
    const SplitRow& row = GetParam();
    DriverHarness h(row.blockSize);
    VarItem item = makeItem(row.regName, row.addr, row.count);
    const qint32 size = h.driver.AddListOnceReadVar(item);
    EXPECT_EQ(spansOf(h.driver.OnceReadVarList), row.blocks);
    EXPECT_EQ(size, static_cast<qint32>(row.blocks.size()));
    if (!row.blocks.empty()) {
        EXPECT_EQ(item.Addr, row.blocks.back().addr);
        EXPECT_EQ(item.Count, row.blocks.back().count);
    }
}

// Units always include one more than the span needs for bit types and D_bit.
const SplitRow kSplitRows[] = {
    {"WordsInFourBlocks", "D", 0, 100, 32, {{0, 32}, {32, 32}, {64, 32}, {96, 4}}},
    {"WordsEndingOnABlockKeepAFullLastBlock", "D", 0, 64, 32, {{0, 32}, {32, 32}}},
    {"BitsCountBytesAndStepEightBitsABlock", "M", 0, 500, 32, {{0, 32}, {256, 31}}},
    {"BitsStartOnTheirByte", "X", 13, 3, 32, {{8, 2}}},
    {"BitsEndingOnAByteStillTakeOneMore", "X", 0, 8, 32, {{0, 2}}},
    {"BitCountZeroStillAsksOneByte", "Y", 9, 0, 32, {{8, 1}}},
    {"DataBitsBecomeWords", "D_bit", 37, 20, 32, {{2, 2}}},
    {"DataBitsSplitInWords", "D_bit", 16, 40, 1, {{1, 1}, {2, 1}, {3, 1}}},
    {"WordCountZeroQueuesNothing", "D", 5, 0, 32, {}},
    {"NegativeBitCountQueuesNothing", "M", 0, -100, 32, {}},
    {"UnknownNameSplitsLikeAWordType", "Q", 3, 5, 2, {{3, 2}, {5, 2}, {7, 1}}},
};

INSTANTIATE_TEST_SUITE_P(Table, OnceReadSplit, ::testing::ValuesIn(kSplitRows),
                         [](const ::testing::TestParamInfo<SplitRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(VariableLists, SameOnceReadTwiceQueuesNothingNew)
{
    DriverHarness h(32);
    VarItem first = makeItem("D", 0, 100, 4, 1);
    VarItem again = makeItem("D", 64, 36, 4, 1); // the same last two blocks
    EXPECT_EQ(h.driver.AddListOnceReadVar(first), 4);
    EXPECT_EQ(h.driver.AddListOnceReadVar(again), 4);
    VarItem otherHost = makeItem("D", 0, 100, 5, 1);
    VarItem otherSub = makeItem("D", 0, 100, 4, 2);
    EXPECT_EQ(h.driver.AddListOnceReadVar(otherHost), 8);
    EXPECT_EQ(h.driver.AddListOnceReadVar(otherSub), 12);
}

TEST(VariableLists, OnceReadWithNegativeAddressChangesNothing)
{
    DriverHarness h;
    h.word(ComInfoWord::StationNo) = 3;
    VarItem item = makeItem("D", -1, 10);
    item.WorkA = 7;
    item.StationNo = 9;
    EXPECT_EQ(h.driver.AddListOnceReadVar(item), 0);
    EXPECT_TRUE(h.driver.OnceReadVarList.isEmpty());
    EXPECT_EQ(item.WorkA, 7);
    EXPECT_EQ(item.StationNo, 9);
    EXPECT_EQ(item.Addr, -1);
}

TEST(VariableLists, OnceReadStationComesFromComInfoUnlessPerVariable)
{
    DriverHarness h;
    h.word(ComInfoWord::StationNo) = 3;
    VarItem item = makeItem("D", 0, 1);
    item.StationNo = 9;
    item.WorkA = 1;
    item.WorkB = 2;
    h.driver.AddListOnceReadVar(item);
    EXPECT_EQ(item.StationNo, 3);
    EXPECT_EQ(item.WorkA, 0);
    EXPECT_EQ(item.WorkB, 0);
    EXPECT_EQ(h.driver.OnceReadVarList.first().StationNo, 3);

    h.word(ComInfoWord::StationPerVar) = 1;
    VarItem own = makeItem("D", 0, 1);
    own.StationNo = 9;
    EXPECT_EQ(h.driver.AddListOnceReadVar(own), 2); // another station: not a duplicate
    EXPECT_EQ(own.StationNo, 9);
}

TEST(VariableLists, OnceReadListStopsAt1024)
{
    DriverHarness h(1);
    for (int i = 0; i < 1023; ++i) {
        VarItem item = makeItem("D", i, 1);
        h.driver.AddListOnceReadVar(item);
    }
    VarItem three = makeItem("D", 5000, 3); // three blocks, room for one
    EXPECT_EQ(h.driver.AddListOnceReadVar(three), 1024);
    EXPECT_EQ(h.driver.OnceReadVarList.at(1023).Addr, 5000);
    EXPECT_EQ(three.Addr, 5002); // still the last block
}

TEST(VariableLists, HugeOnceReadCountFillsTheListAndEndsAtItsLastBlock)
{
    DriverHarness h(1);
    VarItem item = makeItem("D", 0, 2000000000);
    EXPECT_EQ(h.driver.AddListOnceReadVar(item), 1024);
    EXPECT_EQ(h.driver.OnceReadVarList.at(1023).Addr, 1023);
    EXPECT_EQ(item.Addr, 1999999999);
    EXPECT_EQ(item.Count, 1);
}

TEST(VariableLists, OnceReadBlocksNeverStartBeyondA32BitIndex)
{
    DriverHarness h(64);
    VarItem item = makeItem("D", 2000000000, 2000000000);
    EXPECT_EQ(h.driver.AddListOnceReadVar(item), 1024);
    // 147,483,647 / 64 = 2,304,431 whole steps fit: the last start is
    // 2,000,000,000 + 2,304,431 x 64 = 2,147,483,584.
    EXPECT_EQ(item.Addr, 2147483584);
    EXPECT_EQ(item.Count, 64);
}

} // namespace
