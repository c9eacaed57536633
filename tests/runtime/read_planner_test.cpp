// The read planner, checked against what the test works out itself: the
// port's areas (the table below), the characters of a block read from its
// frame (request 11, reply 2n + 4), and the least cost from a brute force
// that tries every way to cut the needed registers into blocks.

#include "read_planner.h"

#include "support/qt_printers.h"
#include "test_variables.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <set>
#include <vector>

namespace {

// --- The port's areas and the cost of a block read, written out here. A
// piece is what a block's Count counts: a byte of 8 bits, a 16-bit word, or
// a 32-bit counter (the module reads 4 x Count - 4 bytes of counters).
struct PortArea {
    const char* name;
    qint64 registersPerPiece;
    qint64 bytesPerPiece;
    qint64 registers; // in reach from index 0
};

const PortArea kAreas[] = {
    {"X", 8, 1, 256},   {"Y", 8, 1, 256},    {"M", 8, 1, 1536},  {"SM", 8, 1, 256},  {"S", 8, 1, 1000},
    {"T", 8, 1, 256},   {"C", 8, 1, 256},    {"D", 1, 2, 8000},  {"SD", 1, 2, 256},  {"TV", 1, 2, 256},
    {"CV", 1, 2, 200},  {"32CV", 1, 4, 56},
};

int areaOrder(const QString& name)
{
    for (int i = 0; i < int(std::size(kAreas)); ++i) {
        if (name == QLatin1String(kAreas[i].name))
            return i;
    }
    return -1;
}

const PortArea& areaOf(const QString& name)
{
    return kAreas[areaOrder(name)];
}

qint64 bytesAsked(const ReadBlock& block)
{
    const qint64 perPiece = areaOf(block.regName).bytesPerPiece;
    return perPiece == 4 ? 4 * qint64(block.count) - 4 : perPiece * block.count;
}

// The registers [first, end) a block reads.
std::pair<qint64, qint64> registersRead(const ReadBlock& block)
{
    const PortArea& area = areaOf(block.regName);
    return {block.addr, block.addr + bytesAsked(block) / area.bytesPerPiece * area.registersPerPiece};
}

// A frame's time in units of 1 / (baud x 1,000,000) s, whole numbers so that
// equal costs compare equal: 11 request and 2n + 4 reply characters of 10
// bits, and one turnaround.
qint64 frameWeight(qint64 bytes, const ReadCostModel& model)
{
    return (11 + 2 * bytes + 4) * 10 * 1'000'000 + qint64(model.turnaroundUs) * model.baud;
}

qint64 weightOf(const QVector<ReadBlock>& blocks, const ReadCostModel& model)
{
    qint64 weight = 0;
    for (const ReadBlock& block : blocks)
        weight += frameWeight(bytesAsked(block), model);
    return weight;
}

// --- Texts for the tables: "D 100 101; M 5 6" (area, first, end), blocks
// the same way (name, addr, count), with " | " and their variables if asked.

QVector<PolledSpan> spans(const char* text)
{
    QVector<PolledSpan> result;
    for (const QString& part : QString::fromLatin1(text).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList words = part.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        result.append({words.at(0), words.at(1).toLongLong(), words.at(2).toLongLong()});
    }
    return result;
}

QString blocksText(const QVector<ReadBlock>& blocks, bool withVariables = false)
{
    QStringList parts;
    for (const ReadBlock& block : blocks) {
        QString part = QStringLiteral("%1 %2 %3").arg(block.regName).arg(block.addr).arg(block.count);
        for (int v = 0; withVariables && v <= block.variables.size(); ++v)
            part += v ? QStringLiteral(" %1").arg(block.variables.at(v - 1)) : QStringLiteral(" |");
        parts.append(part);
    }
    return parts.join(QLatin1String("; "));
}

// --- Worked by hand. A word costs 4 characters, a byte of bits 2, a frame
// 15 and its turnaround: 10 ms is 9.6 characters at 9600 baud, 115.2 at 115200.
// Which of two plans is cheaper is the brute force's, below.

struct PlanRow {
    const char* name;
    const char* variables;
    ReadCostModel model;
    const char* blocks;
    qint64 characters;
    const char* unplanned = "";
};

const PlanRow kPlans[] = {
    {"OneWord", "D 100 101", {9600, 0}, "D 100 1", 19},
    // Merged: 6 words, 39 characters and one wait (48.6); apart: 19 + 19 and two (57.2).
    {"ButLessThanAFrameAndItsWait", "D 100 101; D 105 106", {9600, 10000}, "D 100 6", 39},
    {"ARelayReadsItsByte", "M 5 6", {9600, 0}, "M 0 1", 17},
    {"TheLastRelayInReach", "M 1535 1536", {9600, 0}, "M 1528 1", 17},
    {"BitsAcrossAByte", "X 3 13", {9600, 0}, "X 0 2", 19},
    {"RelaysEightBytesApartShareABlock", "M 0 1; M 64 65", {9600, 0}, "M 0 9", 33},
    {"WordsPastTheByteLimitTakeTwoBlocks", "D 0 64", {9600, 0}, "D 0 32; D 32 32", 286},
    {"SixteenCountersFillSixtyFourBytes", "32CV 0 16", {9600, 0}, "32CV 0 17", 143},
    {"SeventeenCountersDoNot", "32CV 0 32", {9600, 0}, "32CV 0 17; 32CV 16 17", 286},
    {"ASmallerByteLimit", "D 0 16", {9600, 0, 16}, "D 0 8; D 8 8", 94},
    {"CountersUnderASmallerLimit", "32CV 0 8", {9600, 0, 16}, "32CV 0 5; 32CV 4 5", 94},
    {"AreasNeverShareABlock", "M 1535 1536; SM 0 1", {9600, 0}, "M 1528 1; SM 0 1", 34},
    {"AreasInTheirOrder", "32CV 3 4; D 7 8; X 0 1", {9600, 0}, "X 0 1; D 7 1; 32CV 3 2", 59},
    // 143 characters and one wait (258.2) against 38 and two (268.4).
    {"AFastLineWithAWaitFillsTheBlock", "D 0 1; D 31 32", {115200, 10000}, "D 0 32", 143},
    // At 10000 baud 1 ms is one character: 39 + 1 against 38 + 2.
    {"OfEquallyFastPlansTheOneWithFewerFrames", "D 0 1; D 5 6", {10000, 1000}, "D 0 6", 39},
    {"TheEndsOfReach", "S 999 1000; D 7999 8000; CV 199 200; 32CV 55 56", {9600, 0},
     "S 992 1; D 7999 1; CV 199 1; 32CV 55 2", 17 + 19 + 19 + 23},
    {"AnUnknownAreaIsLeftOut", "Q 0 1; D 0 1", {9600, 0}, "D 0 1", 19, "0"},
    {"ASpanOfNoRegister", "D 5 5", {9600, 0}, "", 0, "0"},
    {"RelaysPastM1535", "M 1530 1537", {9600, 0}, "", 0, "0"},
    {"ANegativeIndex", "D -1 1", {9600, 0}, "", 0, "0"},
    {"PastD7999", "D 7999 8001", {9600, 0}, "", 0, "0"},
    {"ALimitBelowAWord", "D 0 1; M 0 1", {9600, 0, 1}, "M 0 1", 17, "0"},
    {"ALimitBelowACounter", "32CV 0 1; D 0 1", {9600, 0, 3}, "D 0 1", 19, "0"},
};

TEST(ReadPlanner, PlansTheCheapestBlocksWorkedByHand)
{
    for (const PlanRow& row : kPlans) {
        const ReadPlan plan = planReads(spans(row.variables), row.model);
        EXPECT_EQ(blocksText(plan.blocks), QLatin1String(row.blocks)) << row.name;
        EXPECT_EQ(plan.characters(), row.characters) << row.name;
        QStringList unplanned;
        for (const UnplannedVariable& variable : plan.unplanned) {
            unplanned.append(QString::number(variable.variable));
            EXPECT_FALSE(variable.reason.isEmpty()) << row.name;
        }
        EXPECT_EQ(unplanned.join(QLatin1Char(' ')), QLatin1String(row.unplanned)) << row.name;
    }
    // D10.3 with 20 bits: D10.3 to D11.6.
    EXPECT_EQ(blocksText(planReads({variableSpan(variable(QStringLiteral("D10.3"), 20))}).blocks), QStringLiteral("D 10 2"));
}

// --- The brute force: every way to cut the needed pieces of an area into
// runs, each run read by one block from its first piece to its last.

struct AreaNeeds {
    std::set<qint64> needed;    // pieces (bytes, words, counters) a variable needs
    std::set<qint64> forbidden; // pieces only variables at fault hold
};

std::vector<AreaNeeds> needsOf(const QVector<PolledSpan>& variables, const QSet<int>& atFault)
{
    std::vector<AreaNeeds> needs(std::size(kAreas));
    for (int v = 0; v < variables.size(); ++v) {
        const PolledSpan& span = variables.at(v);
        AreaNeeds& here = needs[size_t(areaOrder(span.area))];
        for (qint64 r = span.first; r < span.end; ++r)
            (atFault.contains(v) ? here.forbidden : here.needed).insert(r / areaOf(span.area).registersPerPiece);
    }
    for (AreaNeeds& here : needs) {
        for (qint64 piece : here.needed)
            here.forbidden.erase(piece);
    }
    return needs;
}

qint64 bruteForceWeight(const AreaNeeds& needs, const PortArea& area, const ReadCostModel& model)
{
    const std::vector<qint64> needed(needs.needed.begin(), needs.needed.end());
    if (needed.empty())
        return 0;
    qint64 best = std::numeric_limits<qint64>::max();
    for (quint32 cuts = 0; cuts < (1u << (needed.size() - 1)); ++cuts) {
        qint64 total = 0;
        bool fits = true;
        size_t runStart = 0;
        for (size_t i = 0; i < needed.size(); ++i) {
            if (i + 1 < needed.size() && !(cuts >> i & 1))
                continue; // the run goes on
            const qint64 bytes = (needed[i] - needed[runStart] + 1) * area.bytesPerPiece;
            const auto forbidden = needs.forbidden.lower_bound(needed[runStart]);
            fits = fits && bytes <= model.byteLimit && (forbidden == needs.forbidden.end() || *forbidden > needed[i]);
            total += frameWeight(bytes, model);
            runStart = i + 1;
        }
        if (fits)
            best = std::min(best, total);
    }
    return best;
}

// --- The hard limits and the links from blocks to variables, for any plan.

bool reads(const ReadBlock& block, const PolledSpan& span)
{
    if (block.regName != span.area)
        return false;
    const auto [first, end] = registersRead(block);
    return first < span.end && span.first < end;
}

// Empty when every block stays in one area, in reach, within the byte limit
// and on whole bytes, reads no piece that only variables at fault hold, the
// blocks come area by area in the port's order, ascending and apart, each
// names exactly the planned variables it reads, and every planned variable
// has each of its registers read; else what breaks a rule.
QString planBreach(const ReadPlan& plan, const QVector<PolledSpan>& variables, const std::vector<AreaNeeds>& needs,
                   int byteLimit)
{
    std::set<int> unplanned;
    for (const UnplannedVariable& variable : plan.unplanned)
        unplanned.insert(variable.variable);
    int lastArea = -1;
    qint64 lastEnd = 0;
    for (const ReadBlock& block : plan.blocks) {
        const QString text = blocksText({block});
        const int order = areaOrder(block.regName);
        if (order < 0)
            return text + QLatin1String(": no such area");
        const auto [first, end] = registersRead(block);
        const qint64 perPiece = kAreas[order].registersPerPiece;
        if (perPiece == 8 && block.addr % 8 != 0)
            return text + QLatin1String(": does not start on a byte");
        if (bytesAsked(block) < 1 || bytesAsked(block) > byteLimit)
            return text + QStringLiteral(": asks for %1 bytes").arg(bytesAsked(block));
        if (first < 0 || end > kAreas[order].registers)
            return text + QLatin1String(": out of reach");
        const auto atFault = needs[size_t(order)].forbidden.lower_bound(first / perPiece);
        if (atFault != needs[size_t(order)].forbidden.end() && *atFault < end / perPiece)
            return text + QLatin1String(": reads a variable at fault");
        if (order < lastArea || (order == lastArea && first < lastEnd))
            return text + QLatin1String(": out of order or overlapping");
        lastArea = order;
        lastEnd = end;
        QVector<int> expected;
        for (int v = 0; v < variables.size(); ++v) {
            if (!unplanned.count(v) && reads(block, variables.at(v)))
                expected.append(v);
        }
        if (block.variables != expected)
            return text + QLatin1String(": names other variables");
    }
    for (int v = 0; v < variables.size(); ++v) {
        for (qint64 r = variables.at(v).first; !unplanned.count(v) && r < variables.at(v).end; ++r) {
            const PolledSpan one{variables.at(v).area, r, r + 1};
            if (std::none_of(plan.blocks.begin(), plan.blocks.end(), [&](const ReadBlock& b) { return reads(b, one); }))
                return QStringLiteral("variable %1: register %2 is not read").arg(v).arg(r);
        }
    }
    return {};
}

// One to three areas, each with up to six short variables in a window of 24
// pieces somewhere in reach; a line, a wait and a byte limit; one variable in
// eight at fault.
TEST(ReadPlanner, CostsWhatTheBruteForceOptimumCostsOnRandomSmallSets)
{
    const qint32 bauds[] = {9600, 19200, 38400, 115200};
    const qint32 waits[] = {0, 500, 2000, 10000, 40000};
    const int limits[] = {4, 6, 8, 16, 64};
    int compared = 0;
    for (unsigned seed = 1; compared < 800; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&random](int below) { return std::uniform_int_distribution<int>(0, below - 1)(random); };
        const ReadCostModel model{bauds[pick(4)], waits[pick(5)], limits[pick(5)]};
        QVector<PolledSpan> variables;
        QSet<int> atFault;
        for (int areas = 1 + pick(3); areas > 0; --areas) {
            const PortArea& area = kAreas[pick(int(std::size(kAreas)))];
            const qint64 window = 24 * area.registersPerPiece;
            const qint64 origin = pick(int(area.registers - window + 1));
            for (int n = 1 + pick(6); n > 0; --n) {
                const qint64 first = origin + pick(int(window));
                const qint64 length = 1 + pick(area.registersPerPiece == 8 ? 12 : 3);
                variables.append({QLatin1String(area.name), first, std::min(first + length, origin + window)});
                if (pick(8) == 0)
                    atFault.insert(int(variables.size()) - 1);
            }
        }
        const std::vector<AreaNeeds> needs = needsOf(variables, atFault);
        if (std::any_of(needs.begin(), needs.end(), [](const AreaNeeds& n) { return n.needed.size() > 14; }))
            continue; // keep the enumeration small
        qint64 optimum = 0;
        for (size_t area = 0; area < needs.size(); ++area)
            optimum += bruteForceWeight(needs[area], kAreas[area], model);
        const ReadPlan plan = planReads(variables, model, atFault);
        ASSERT_EQ(weightOf(plan.blocks, model), optimum) << "seed " << seed << ": " << blocksText(plan.blocks).toStdString();
        ASSERT_EQ(planBreach(plan, variables, needs, model.byteLimit), QString()) << "seed " << seed;
        ++compared;
    }
}

// --- A refused block split down to the variable at fault.

const struct {
    const char* name;
    const char* variables;
    const char* refused; // the block, and its variables: "D 100 6 | 0 1"
    const char* halves;  // "D 100 1 | 0; D 105 1 | 1", or "" when a variable is at fault
} kSplits[] = {
    {"TwoWordsApart", "D 100 101; D 105 106", "D 100 6 | 0 1", "D 100 1 | 0; D 105 1 | 1"},
    {"HalvesByAddressNotByIndex", "D 120 121; D 100 101; D 110 112; D 105 106", "D 100 21 | 0 1 2 3",
     "D 100 6 | 1 3; D 110 11 | 0 2"},
    {"OneVariableIsAtFault", "D 100 101", "D 100 1 | 0", ""},
    {"BitsOfOneWordSplitToTheSameWord", "D 10 11; D 10 11", "D 10 1 | 0 1", "D 10 1 | 0; D 10 1 | 1"},
    {"CountersKeepTheirCountRule", "32CV 0 2; 32CV 3 4", "32CV 0 5 | 0 1", "32CV 0 3 | 0; 32CV 3 2 | 1"},
    {"ALongVariableStaysInsideTheBlock", "D 0 100; D 40 41", "D 32 32 | 0 1", "D 32 32 | 0; D 40 1 | 1"},
    {"RelaysReadTheirBytes", "M 3 4; M 20 30", "M 0 4 | 0 1", "M 0 1 | 0; M 16 2 | 1"},
    {"UnknownVariablesAreIgnored", "D 100 101", "D 100 6 | 0 7", ""},
};

ReadBlock blockFrom(const QString& text)
{
    const QStringList sides = text.split(QLatin1Char('|'));
    const QStringList words = sides.at(0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ReadBlock block{words.at(0), words.at(1).toInt(), words.at(2).toInt(), {}};
    for (const QString& variable : sides.at(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        block.variables.append(variable.toInt());
    return block;
}

TEST(RefusedBlock, SplitsIntoHalvesOfItsVariablesDownToOne)
{
    for (const auto& row : kSplits) {
        const QVector<ReadBlock> halves = splitRefusedBlock(blockFrom(QLatin1String(row.refused)), spans(row.variables));
        EXPECT_EQ(blocksText(halves, true), QLatin1String(row.halves)) << row.name;
    }
}

} // namespace
