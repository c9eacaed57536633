// SetComInfo, and how the host's variables enter the three lists: limits,
// the one-shot split into blocks, and the read-list rebuild against worked
// examples and a plain reference made the slow way.

#include "core/driver_harness.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <tuple>

namespace {

TEST(DriverSetup, SetComInfoZeroesWordsTenAndThirteenOnly)
{
    qint32 block[24];
    std::iota(block, block + 24, 1000);
    Tavrin driver;
    driver.SetComInfo(block);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(block[i], i == 10 || i == 13 ? 0 : 1000 + i) << "word " << i;
}

TEST(VariableLists, ReadListHasNoLimitWriteListStopsAt1024)
{
    DriverHarness h;
    for (int i = 1; i <= 1500; ++i)
        ASSERT_EQ(h.driver.AddListReadVar(makeItem("D", -7, i)), i);
    for (int i = 0; i < 1025; ++i) // the 1025th is dropped
        EXPECT_EQ(h.driver.AddListWriteVar(makeItem("D", i, 1)), std::min(i + 1, 1024));
}

// Bit types count bytes from the byte of the first bit, D_bit words from the
// word of the first bit, one unit more than the span needs even when it ends
// on a boundary: M13 with 491 bits asks (5 + 491) / 8 + 1 = 63 bytes. A block
// already queued for the same HostId, HostSubId, StationNo, name, address and
// count is not queued again.
struct OnceRow {
    const char* name;
    VarItem first, second;
    qint32 blockSize, secondStation; // the second request's own StationNo (StationPerVar 1)
    const char* blocks;
};

TEST(VariableLists, OnceReadIsSplitIntoBlocksOfBlockSizeQueuedOnce)
{
    const VarItem d0 = makeItem("D", 0, 2, "", 1, 2);
    const OnceRow rows[] = {
        {"Words", makeItem("D", 0, 100), makeItem("D", 0, 100), 32, 0, "D:0+32 D:32+32 D:64+32 D:96+4"},
        {"WordsEndOnABlock", makeItem("D", 0, 64), makeItem("D", 0, 64), 32, 0, "D:0+32 D:32+32"},
        {"Bits", makeItem("M", 13, 491), makeItem("M", 13, 491), 32, 0, "M:8+32 M:264+31"},
        {"DBitWords", makeItem("D_bit", 16, 32), makeItem("D_bit", 16, 32), 1, 0, "D_bit:1+1 D_bit:2+1 D_bit:3+1"},
        {"CountZero", makeItem("D", 5, 0), makeItem("D", 5, 0), 32, 0, ""},
        {"OtherStation", d0, d0, 32, 5, "D:0+2 D:0+2"},
        {"OtherHostId", d0, makeItem("D", 0, 2, "", 9, 2), 32, 0, "D:0+2 D:0+2"},
        {"OtherHostSubId", d0, makeItem("D", 0, 2, "", 1, 9), 32, 0, "D:0+2 D:0+2"},
        {"OtherName", d0, makeItem("SD", 0, 2, "", 1, 2), 32, 0, "D:0+2 SD:0+2"},
        {"OtherCount", d0, makeItem("D", 0, 3, "", 1, 2), 32, 0, "D:0+2 D:0+3"},
    };
    for (const OnceRow& r : rows) {
        DriverHarness h(r.blockSize);
        h.comInfo[ComInfoWord::StationPerVar] = 1;
        VarItem first = r.first, second = r.second;
        second.StationNo = r.secondStation;
        h.driver.AddListOnceReadVar(first);
        const auto queued = static_cast<qint32>(QByteArray(r.blocks).count(':'));
        EXPECT_EQ(h.driver.AddListOnceReadVar(second), queued) << r.name;
        EXPECT_EQ(spansOf(h.requestItems()), r.blocks) << r.name;
    }
}

// With StationPerVar 0 the caller's record comes back with the ComInfo
// station, and the last block's address and count.
TEST(VariableLists, OnceReadRecordComesBackAsTheLastBlock)
{
    DriverHarness h(32);
    h.comInfo[ComInfoWord::StationNo] = 4;
    VarItem request = makeItem("D", 0, 100);
    request.StationNo = 9;
    request.WorkA = 3;
    EXPECT_EQ(h.driver.AddListOnceReadVar(request), 4);
    EXPECT_EQ((std::array{request.Addr, request.Count, request.StationNo, request.WorkA}),
              (std::array{96, 4, 4, 0}));
}

// The twelve read-list types in their order, then D_bit and a name no type has.
const char* const kNames[] = {"X", "Y",  "M",  "SM", "S",    "T",     "C",
                              "D", "SD", "TV", "CV", "32CV", "D_bit", "Q"};

// The rules applied literally, blocks written as spansOf does with the
// AddrText of the record that opened each: one list per type in read-list
// order, D_bit records as the D words holding their bits, records cut at the
// limit, sorted by address in host-list order, then one open block at a time.
// Addresses and lengths are small and not negative.
std::string referenceRebuild(const QList<HostVarDef>& vars, qint32 blockSize)
{
    struct Piece {
        qint32 addr, count; // a block's count is in units: bytes of bits, or words
        const HostVarDef* var;
    };
    QStringList out;
    for (int t = 0; t < 12; ++t) {
        const qint32 unit = t < 7 ? 8 : 1; // indexes per counted unit
        const qint32 limit = unit * blockSize;
        std::vector<Piece> pieces, blocks;
        for (const HostVarDef& var : vars) {
            Piece whole{var.Addr, var.Length, &var};
            if (t == 7 && var.RegName == QLatin1String("D_bit"))
                whole = {var.Addr / 16, (var.Addr % 16 + var.Length) / 16 + 1, &var};
            else if (var.RegName != QLatin1String(kNames[t]))
                continue;
            for (qint32 at = 0; at == 0 || at < whole.count; at += limit)
                pieces.push_back({whole.addr + at, std::min(limit, whole.count - at), &var});
        }
        std::stable_sort(pieces.begin(), pieces.end(),
                         [](const Piece& a, const Piece& b) { return a.addr < b.addr; });
        for (const Piece& p : pieces) {
            Piece* open = blocks.empty() ? nullptr : &blocks.back();
            const qint32 end = open ? open->addr + unit * open->count : 0;
            if (open && p.addr < end && p.addr + p.count <= end)
                continue;
            if (open && p.addr + p.count - open->addr <= limit) {
                open->count = (p.addr + p.count - open->addr + unit - 1) / unit;
                continue;
            }
            const qint32 start = p.addr / unit * unit;
            blocks.push_back({start, (p.addr + p.count - start + unit - 1) / unit, p.var});
        }
        for (const Piece& b : blocks)
            out << b.var->RegName + QStringLiteral(":%1+%2@").arg(b.addr).arg(b.count)
                       + b.var->AddrText;
    }
    return out.join(QLatin1Char(' ')).toStdString();
}

// The blocks as the cycle polls them, once round the ring.
std::string rebuild(const QList<HostVarDef>& vars, qint32 blockSize)
{
    DriverHarness h(blockSize);
    const qint32 blocks = h.driver.ReCreatReadVarList(vars);
    return spansOf(h.requestItems(blocks), true);
}

// Worked by hand, and the reference must give them too. Word blocks count
// words: D0 to D11 just fit 12, D12 opens the next. Bit blocks start on a
// byte and count bytes. Bit 3 of D10 with 20 bits takes (3 + 20) / 16 + 1 = 2
// words from D10, and the D_bit record came first, so it opens the block.
TEST(ReadListRebuild, MatchesWorkedExamplesAndTheReferenceOnRandomHostLists)
{
    const std::tuple<qint32, QList<HostVarDef>, const char*> worked[] = {
        {12, {makeVar("D", 10, 2), makeVar("D", 0, 2), makeVar("D", 12, 1)}, "D:0+12@ D:12+1@"},
        {16, {makeVar("X", 0, 300), makeVar("M", 3, 128)}, "X:0+16@ X:128+16@ X:256+6@ M:0+17@"},
        {16, {makeVar("D_bit", 163, 20, QStringLiteral("a")), makeVar("D", 10, 1)}, "D_bit:10+2@a"},
        {4, {makeVar("32CV", 1, 2), makeVar("C", 9, 1)}, "C:8+1@ 32CV:1+2@"},
    };
    for (const auto& [blockSize, vars, blocks] : worked) {
        EXPECT_EQ(rebuild(vars, blockSize), blocks);
        EXPECT_EQ(referenceRebuild(vars, blockSize), blocks);
    }
    std::mt19937 random(20240611);
    auto pick = [&random](int low, int high) { return low + int(random() % (high - low + 1)); };
    for (int round = 0; round < 3000; ++round) {
        // Few names and addresses, so that equal addresses and overlaps are common.
        QList<HostVarDef> vars;
        for (int i = pick(1, 14); i > 0; --i)
            vars.append(
                makeVar(kNames[pick(0, 13)], pick(0, 120), pick(0, 40), QString::number(i)));
        const qint32 blockSize = pick(1, 12);
        ASSERT_EQ(rebuild(vars, blockSize), referenceRebuild(vars, blockSize)) << "round " << round;
    }
}

} // namespace
