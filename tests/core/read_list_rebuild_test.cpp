// Compacting the host's variable list into read blocks: worked examples, the
// fields of a block, out-of-range input, and a randomized comparison with a
// plain reference made the slow way (exchange sort, one list per type).

#include "core/driver_harness.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct Block {
    QString regName;
    qint32 addr;
    qint32 count;
    bool operator==(const Block& o) const
    {
        return regName == o.regName && addr == o.addr && count == o.count;
    }
};

void PrintTo(const Block& b, std::ostream* os)
{
    *os << b.regName.toStdString() << '(' << b.addr << ", " << b.count << ')';
}

std::vector<Block> blocksOf(const VarItemList& list)
{
    std::vector<Block> blocks;
    for (int i = 0; i < list.size(); ++i)
        blocks.push_back({list.at(i).RegName, list.at(i).Addr, list.at(i).Count});
    return blocks;
}

Block blk(const char* regName, qint32 addr, qint32 count)
{
    return {QString::fromLatin1(regName), addr, count};
}

struct RebuildRow {
    const char* name;
    qint32 blockSize;
    QList<HostVarDef> vars;
    std::vector<Block> blocks;
};

class RebuildExamples : public ::testing::TestWithParam<RebuildRow> {};

TEST_P(RebuildExamples, GiveTheseBlocksInThisOrder)
{
    const RebuildRow& row = GetParam();
    DriverHarness h(row.blockSize);
    EXPECT_EQ(h.driver.ReCreatReadVarList(row.vars), static_cast<qint32>(row.blocks.size()));
    EXPECT_EQ(blocksOf(h.driver.ReadVarList), row.blocks);
}

const RebuildRow kRebuildRows[] = {
    {"OverlappingBitsShareABlock", 16, {makeVar("X", 0, 8), makeVar("X", 4, 8)}, {blk("X", 0, 2)}},
    {"BitsInsideABlockChangeNothing", 16, {makeVar("M", 0, 100), makeVar("M", 10, 5)},
     {blk("M", 0, 13)}},
    {"WordsAcrossAGapThatFits", 128, {makeVar("D", 0, 2), makeVar("D", 100, 2)},
     {blk("D", 0, 102)}},
    {"WordsAcrossAGapThatDoesNotFit", 64, {makeVar("D", 0, 2), makeVar("D", 100, 2)},
     {blk("D", 0, 2), blk("D", 100, 2)}},
    {"LongWordVariableIsCut", 64, {makeVar("D", 0, 150)},
     {blk("D", 0, 64), blk("D", 64, 64), blk("D", 128, 22)}},
    {"LongBitVariableIsCut", 16, {makeVar("X", 0, 300)},
     {blk("X", 0, 16), blk("X", 128, 16), blk("X", 256, 6)}},
    {"UnalignedBitBlockMayTakeOneByteMore", 16, {makeVar("M", 3, 128)}, {blk("M", 0, 17)}},
    {"DataBitsBecomeDataWords", 16, {makeVar("D_bit", 163, 20)}, {blk("D_bit", 10, 2)}},
    {"DataBitsEndingOnAWordTakeOneMore", 16, {makeVar("D_bit", 16, 16)}, {blk("D_bit", 1, 2)}},
    {"EarlierRecordOpensTheBlock", 16, {makeVar("D_bit", 80, 1), makeVar("D", 5, 1)},
     {blk("D_bit", 5, 1)}},
    {"EarlierDataRecordOpensTheBlock", 16, {makeVar("D", 5, 1), makeVar("D_bit", 80, 1)},
     {blk("D", 5, 1)}},
    {"BitTypesComeBeforeWordTypes", 4,
     {makeVar("D", 0, 1), makeVar("X", 0, 1), makeVar("32CV", 1, 2), makeVar("C", 9, 1),
      makeVar("D", 50, 1), makeVar("Y", 0, 1)},
     {blk("X", 0, 1), blk("Y", 0, 1), blk("C", 8, 1), blk("D", 0, 1), blk("D", 50, 1),
      blk("32CV", 1, 2)}},
    {"UnsortedRecordsAreSortedByAddress", 4,
     {makeVar("TV", 30, 1), makeVar("TV", 10, 1), makeVar("TV", 12, 1)},
     {blk("TV", 10, 3), blk("TV", 30, 1)}},
    {"UnknownNamesContributeNothing", 16, {makeVar("Q", 0, 1), makeVar("d", 0, 1)}, {}},
    {"NegativeLengthPassesAsItComes", 16, {makeVar("D", 10, -5), makeVar("D", 12, 2)},
     {blk("D", 10, 4)}},
};

INSTANTIATE_TEST_SUITE_P(Table, RebuildExamples, ::testing::ValuesIn(kRebuildRows),
                         [](const ::testing::TestParamInfo<RebuildRow>& info) {
                             return std::string(info.param.name);
                         });

TEST(ReadListRebuild, EmptyHostListEmptiesTheListAndKeepsTheScanState)
{
    DriverHarness h;
    h.driver.AddListReadVar(makeItem("D", 0, 1));
    h.driver.ScanCount = 2;
    h.word(ComInfoWord::ScanComplete) = 1;
    EXPECT_EQ(h.driver.ReCreatReadVarList({}), 0);
    EXPECT_TRUE(h.driver.ReadVarList.isEmpty());
    EXPECT_EQ(h.driver.ScanCount, 2);
    EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 1);
}

TEST(ReadListRebuild, AnyHostListRestartsTheScanEvenWithoutBlocks)
{
    DriverHarness h;
    h.driver.ScanCount = 2;
    h.word(ComInfoWord::ScanComplete) = 1;
    EXPECT_EQ(h.driver.ReCreatReadVarList({makeVar("Q", 0, 1)}), 0);
    EXPECT_EQ(h.driver.ScanCount, 0);
    EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 0);
}

TEST(ReadListRebuild, HundredThousandVariablesInReverseOrder)
{
    // D at 3i with length 1: a block of 64 words holds the 22 variables at
    // 0, 3, .., 63; 100,000 variables need ceil(100000 / 22) = 4546 blocks.
    QList<HostVarDef> vars;
    for (int i = 99999; i >= 0; --i)
        vars.append(makeVar("D", 3 * i, 1));
    DriverHarness h(64);
    EXPECT_EQ(h.driver.ReCreatReadVarList(vars), 4546);
    EXPECT_EQ(h.driver.ReadVarList.at(1).Addr, 66);
    EXPECT_EQ(h.driver.ReadVarList.at(1).Count, 64);
}

// --- The reference: the rules applied literally, one list per type, with an
// exchange sort that swaps neighbours only when the later one is smaller.

const char* const kBucketNames[12][2] = {{"X", nullptr},  {"Y", nullptr},    {"M", nullptr},
                                         {"SM", nullptr}, {"S", nullptr},    {"T", nullptr},
                                         {"C", nullptr},  {"D", "D_bit"},    {"SD", nullptr},
                                         {"TV", nullptr}, {"CV", nullptr},   {"32CV", nullptr}};

QList<VarItem> referenceRebuild(const QList<HostVarDef>& vars, qint32 blockSize, qint32 station,
                                qint32 param1, qint32 param2)
{
    QList<VarItem> out;
    const qint32 bitLimit = blockSize * 8;
    for (int b = 0; b < 12; ++b) {
        const bool bits = b < 7;
        const qint32 limit = bits ? bitLimit : blockSize;
        QList<VarItem> bucket;
        for (const HostVarDef& var : vars) {
            const bool isMain = var.RegName == QLatin1String(kBucketNames[b][0]);
            const bool isDataBit = kBucketNames[b][1] && var.RegName == QLatin1String("D_bit");
            if (!isMain && !isDataBit)
                continue;
            VarItem item;
            item.HostSubId = -1;
            item.ItemParam1 = param1;
            item.ItemParam2 = param2;
            item.RegName = var.RegName;
            item.AddrText = var.AddrText;
            item.Addr = var.Addr;
            item.Count = var.Length;
            item.StationNo = station;
            if (isDataBit) {
                const qint32 bit = item.Addr % 16;
                item.Addr /= 16;
                item.Count = (bit + item.Count) / 16 + 1;
            }
            if (item.Count <= limit) {
                bucket.append(item);
                continue;
            }
            const qint32 n = (item.Count + limit - 1) / limit;
            for (qint32 k = 0; k < n; ++k) {
                VarItem piece = item;
                piece.Addr = item.Addr + k * limit;
                piece.Count = k == n - 1 ? item.Count - (n - 1) * limit : limit;
                bucket.append(piece);
            }
        }
        for (int pass = 0; pass < bucket.size(); ++pass) {
            for (int i = 0; i + 1 < bucket.size(); ++i) {
                if (bucket[i + 1].Addr < bucket[i].Addr)
                    bucket.swapItemsAt(i, i + 1);
            }
        }
        qint32 start = 0;
        qint32 length = 0;
        for (int i = 0; i < bucket.size(); ++i) {
            VarItem entry = bucket[i];
            const qint32 end = bits ? start + 8 * length : start + length;
            if (i > 0 && entry.Addr < end && entry.Addr + entry.Count <= end)
                continue;
            const qint32 span = entry.Addr + entry.Count - start;
            if (i > 0 && span <= limit) {
                length = bits ? (span + 7) / 8 : span;
                out.last().Count = length;
                continue;
            }
            start = bits ? entry.Addr / 8 * 8 : entry.Addr;
            length = bits ? (entry.Addr % 8 + entry.Count + 7) / 8 : entry.Count;
            entry.Addr = start;
            entry.Count = length;
            out.append(entry);
        }
    }
    return out;
}

void expectSameItem(const VarItem& a, const VarItem& b, int index)
{
    SCOPED_TRACE(index);
    EXPECT_EQ(a.HostId, b.HostId);
    EXPECT_EQ(a.HostSubId, b.HostSubId);
    EXPECT_EQ(a.OpKind, b.OpKind);
    EXPECT_EQ(a.ItemParam1, b.ItemParam1);
    EXPECT_EQ(a.ItemParam2, b.ItemParam2);
    EXPECT_EQ(a.HostWord5, b.HostWord5);
    EXPECT_EQ(a.RegName, b.RegName);
    EXPECT_EQ(a.AddrText, b.AddrText);
    EXPECT_EQ(a.HostWord8, b.HostWord8);
    EXPECT_EQ(a.Addr, b.Addr);
    EXPECT_EQ(a.StationNo, b.StationNo);
    EXPECT_EQ(a.Count, b.Count);
    EXPECT_EQ(a.WorkA, b.WorkA);
    EXPECT_EQ(a.WorkB, b.WorkB);
    EXPECT_EQ(a.Data, b.Data);
}

TEST(ReadListRebuild, MatchesTheReferenceOnRandomSmallHostLists)
{
    const char* const names[] = {"X", "Y", "M", "SM", "S",  "T",  "C",
                                 "D", "D_bit", "SD", "TV", "CV", "32CV", "Q"};
    std::mt19937 random(20240611);
    auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    for (int round = 0; round < 3000; ++round) {
        const qint32 blockSize = pick(1, 12);
        QList<HostVarDef> vars;
        const int size = pick(1, 14);
        for (int i = 0; i < size; ++i) {
            // Few names and addresses, so that equal addresses and overlaps are common.
            const char* name = names[pick(0, 13)];
            const QString text = QStringLiteral("v%1").arg(i);
            vars.append(makeVar(name, pick(0, 120), pick(0, 40), text.toLatin1().constData()));
        }
        DriverHarness h(blockSize);
        h.word(ComInfoWord::StationNo) = round % 5;
        h.word(ComInfoWord::ItemParam1) = round;
        h.word(ComInfoWord::ItemParam2) = -round;
        h.driver.ReCreatReadVarList(vars);
        const QList<VarItem> expected = referenceRebuild(vars, blockSize, round % 5, round, -round);
        ASSERT_EQ(h.driver.ReadVarList.size(), expected.size()) << "round " << round;
        for (int i = 0; i < expected.size(); ++i)
            expectSameItem(h.driver.ReadVarList.at(i), expected[i], i);
        if (::testing::Test::HasFailure())
            FAIL() << "round " << round;
    }
}

} // namespace
