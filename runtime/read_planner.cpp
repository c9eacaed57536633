#include "read_planner.h"

#include "line_timing.h"
#include "port_protocol.h"
#include "register_kinds.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>
#include <vector>

namespace {

using LineTiming::BitsPerCharacter;
constexpr int LargestByteCount = Port::MaxBlockBytes; // the request's byte count is two hex digits
constexpr qint32 LargestBaud = 10'000'000;
constexpr qint32 LongestTurnaroundUs = 10'000'000;

// A cell is what a block read counts: a byte of 8 bits in the bit areas, a
// 16-bit word in the word areas, a 32-bit counter in 32CV.
struct ReadArea {
    const char* name;      // the module's register name
    int unitsPerCell;      // registers in one cell: 8 bits a byte, else 1
    int cellBytes;         // 1, 2 or 4
    qint32 reachable;      // registers the port reaches, from index 0
    int countOverCells;    // Count minus cells: 1 for 32CV, whose read asks 4 x Count - 4 bytes
};

constexpr int AreaCount = RegisterKindCount - 1; // D_bit is read in D

// The device areas, in the order the blocks are listed, from the host's
// register table: every kind but D_bit, whose bits are read as D words.
const std::array<ReadArea, AreaCount>& readAreas()
{
    static const std::array<ReadArea, AreaCount> areas = [] {
        std::array<ReadArea, AreaCount> rows{};
        int i = 0;
        for (int k = 0; k < RegisterKindCount; ++k) {
            const RegisterKind& kind = registerKinds()[k];
            if (kind.id == RegisterKindId::DBit)
                continue;
            rows[size_t(i++)] = {kind.name, kind.readInBytes() ? 8 : 1, kind.readInBytes() ? 1 : kind.unitBytes,
                                 kind.reachable, kind.element == ElementKind::DoubleWord ? 1 : 0};
        }
        return rows;
    }();
    return areas;
}

int areaIndex(const QString& name)
{
    // Names with their lengths, measured once: a variable's area is looked
    // up for every variable, and the lengths decide most comparisons.
    static const auto names = [] {
        std::array<QLatin1String, AreaCount> latin1;
        for (int i = 0; i < AreaCount; ++i)
            latin1[size_t(i)] = QLatin1String(readAreas()[size_t(i)].name);
        return latin1;
    }();
    for (int i = 0; i < AreaCount; ++i) {
        if (name == names[size_t(i)])
            return i;
    }
    return -1;
}

qint32 reachableCells(const ReadArea& area)
{
    return area.reachable / area.unitsPerCell;
}

struct CellRange {
    qint64 first = 0;
    qint64 end = 0; // one past the last
};

// The cells holding a span's registers: bits 3 to 12 lie in bytes 0 and 1.
CellRange cellsOf(const PolledSpan& span, const ReadArea& area)
{
    const int units = area.unitsPerCell;
    return {span.first / units, (span.end + units - 1) / units};
}

CellRange cellsOf(const ReadBlock& block, const ReadArea& area)
{
    const qint64 first = block.addr / area.unitsPerCell;
    return {first, first + block.count - area.countOverCells};
}

ReadBlock blockOver(const CellRange& cells, const ReadArea& area)
{
    ReadBlock block;
    block.regName = QLatin1String(area.name);
    block.addr = static_cast<qint32>(cells.first * area.unitsPerCell);
    block.count = static_cast<qint32>(cells.end - cells.first + area.countOverCells);
    return block;
}

// Costs in whole units of 1 / (baud x 1,000,000) s, so that sums are exact
// and equally fast plans compare equal: a character is 10,000,000 units, a
// turnaround of t us is t x baud units (10 ms at 9600 baud: 96,000,000
// units, the time of 9.6 characters).
struct Weights {
    qint64 character = 0;
    qint64 turnaround = 0;
    int byteLimit = 0;

    qint64 block(qint64 bytes) const { return turnaround + character * blockReadCharacters(bytes); }
};

ReadCostModel withinRanges(const ReadCostModel& model)
{
    return {std::clamp(model.baud, 1, LargestBaud), std::clamp(model.turnaroundUs, 0, LongestTurnaroundUs),
            std::clamp(model.byteLimit, 1, LargestByteCount)};
}

Weights weightsOf(const ReadCostModel& model)
{
    const ReadCostModel line = withinRanges(model);
    return {BitsPerCharacter * 1'000'000LL, qint64(line.turnaroundUs) * line.baud, line.byteLimit};
}

// Where a variable's registers lie, in cells of its area; area -1 and the
// reason when no block can read it.
struct Placement {
    int area = -1;
    CellRange cells;
    QString reason;
};

Placement place(const PolledSpan& span, int byteLimit)
{
    Placement placement;
    const int area = areaIndex(span.area);
    if (area < 0) {
        placement.reason = QStringLiteral("no block read reaches a device area named \"%1\"").arg(span.area);
        return placement;
    }
    const ReadArea& facts = readAreas()[size_t(area)];
    if (span.end <= span.first)
        placement.reason = QStringLiteral("spans no register");
    else if (span.first < 0 || span.end > facts.reachable)
        placement.reason = QStringLiteral("out of the programming port's reach (%1 register indexes 0 to %2)")
                               .arg(span.area)
                               .arg(facts.reachable - 1);
    else if (facts.cellBytes > byteLimit)
        placement.reason = QStringLiteral("one %1 register takes %2 bytes, more than a block of at most %3")
                               .arg(span.area)
                               .arg(facts.cellBytes)
                               .arg(byteLimit);
    else
        placement = {area, cellsOf(span, facts), QString()};
    return placement;
}

// What one area's blocks must read and must not read. Variables mark their
// cells by where they start and end (+1, -1), so that one pass over the
// area counts the variables holding each cell, whatever their lengths.
class AreaDemand {
public:
    explicit AreaDemand(qint32 cells) : cells_(cells) {}

    void add(const CellRange& cells, bool atFault)
    {
        std::vector<int>& marks = atFault ? faultMarks_ : needMarks_;
        if (marks.empty())
            marks.assign(size_t(cells_) + 1, 0);
        marks[size_t(cells.first)] += 1;
        marks[size_t(cells.end)] -= 1;
    }

    // Finds the cells a variable needs, ascending, and counts for every cell
    // the cells before it that only variables at fault hold.
    void settle()
    {
        if (needMarks_.empty())
            return;
        faultMarks_.resize(size_t(cells_) + 1, 0);
        forbiddenBefore_.assign(size_t(cells_) + 1, 0);
        int needing = 0;
        int faulty = 0;
        for (size_t cell = 0; cell < size_t(cells_); ++cell) {
            needing += needMarks_[cell];
            faulty += faultMarks_[cell];
            if (needing > 0)
                needed_.push_back(qint32(cell));
            forbiddenBefore_[cell + 1] = forbiddenBefore_[cell] + (faulty > 0 && needing == 0);
        }
    }

    const std::vector<qint32>& needed() const { return needed_; }

    bool forbidsAny(qint64 first, qint64 end) const
    {
        return forbiddenBefore_[size_t(end)] > forbiddenBefore_[size_t(first)];
    }

private:
    qint32 cells_;
    std::vector<int> needMarks_;
    std::vector<int> faultMarks_;
    std::vector<qint32> needed_;
    std::vector<int> forbiddenBefore_;
};

// The cheapest way to read the first i needed cells, and the needed cell
// its last block starts at.
struct Cover {
    qint64 weight = std::numeric_limits<qint64>::max();
    int frames = 0;
    size_t lastStart = 0;
};

bool cheaper(const Cover& a, const Cover& b)
{
    return a.weight < b.weight || (a.weight == b.weight && a.frames < b.frames);
}

// The exact optimum for one area. Blocks of an optimal plan start and end on
// needed cells (a cell more at either end costs and reads nothing needed), so
// the last block of the best cover of the first i needed cells runs from some
// needed cell j to cell i, after the best cover of the first j - 1. Only the
// needed cells within one block's reach of i are candidates: with 64 bytes,
// at most 64 of them in a bit area, 32 in D.
std::vector<CellRange> cheapestBlocks(const AreaDemand& demand, const ReadArea& area,
                                      const Weights& weights)
{
    const std::vector<qint32>& needed = demand.needed();
    const qint64 largestBlock = weights.byteLimit / area.cellBytes;
    std::vector<Cover> best(needed.size() + 1);
    best[0].weight = 0;
    for (size_t i = 1; i <= needed.size(); ++i) {
        const qint64 last = needed[i - 1];
        for (size_t j = i; j >= 1; --j) {
            const qint64 first = needed[j - 1];
            const qint64 cells = last - first + 1;
            if (cells > largestBlock || demand.forbidsAny(first, last + 1))
                break; // an earlier start only makes the block longer
            const Cover candidate{best[j - 1].weight + weights.block(cells * area.cellBytes),
                                  best[j - 1].frames + 1, j - 1};
            if (cheaper(candidate, best[i]))
                best[i] = candidate;
        }
    }
    std::vector<CellRange> blocks;
    for (size_t i = needed.size(); i > 0; i = best[i].lastStart)
        blocks.push_back({needed[best[i].lastStart], qint64(needed[i - 1]) + 1});
    std::reverse(blocks.begin(), blocks.end());
    return blocks;
}

// One area's blocks, ascending and apart, and where the first stands in the plan.
struct AreaBlocks {
    std::vector<CellRange> cells;
    int firstBlock = 0;
};

// Adds a variable to every block of its area that reads a cell of it.
void linkVariable(int variable, const CellRange& cells, const AreaBlocks& area,
                  QVector<ReadBlock>& blocks)
{
    auto it = std::upper_bound(area.cells.begin(), area.cells.end(), cells.first,
                               [](qint64 cell, const CellRange& block) { return cell < block.end; });
    for (; it != area.cells.end() && it->first < cells.end; ++it)
        blocks[area.firstBlock + static_cast<int>(it - area.cells.begin())].variables.append(variable);
}

// Places every variable and marks its cells in its area's demand. Variables
// no block reads go to `unplanned`, with their reason, and keep area -1.
std::vector<Placement> placeVariables(const QVector<PolledSpan>& variables, int byteLimit,
                                      const QSet<int>& atFault, std::vector<AreaDemand>& demands,
                                      QVector<UnplannedVariable>& unplanned)
{
    std::vector<Placement> placements;
    placements.reserve(size_t(variables.size()));
    for (int i = 0; i < variables.size(); ++i) {
        Placement placement = place(variables.at(i), byteLimit);
        const bool faulty = !atFault.isEmpty() && atFault.contains(i);
        if (placement.area >= 0)
            demands[size_t(placement.area)].add(placement.cells, faulty);
        if (faulty && placement.area >= 0)
            placement = {-1, {}, QStringLiteral("the PLC refused a read of its registers")};
        if (placement.area < 0)
            unplanned.append({i, placement.reason});
        placements.push_back(placement);
    }
    return placements;
}

// One half of a refused block: the smallest block inside it that holds the
// registers `part` has there.
ReadBlock halfBlock(const QVector<int>& part, const QVector<PolledSpan>& variables,
                    const ReadArea& area, const CellRange& inside)
{
    QVector<int> held;
    CellRange hull{inside.end, inside.first};
    for (int variable : part) {
        const CellRange cells = cellsOf(variables.at(variable), area);
        const CellRange here{std::max(cells.first, inside.first), std::min(cells.end, inside.end)};
        if (here.end <= here.first)
            continue;
        hull = {std::min(hull.first, here.first), std::max(hull.end, here.end)};
        held.append(variable);
    }
    if (held.isEmpty())
        return {};
    std::sort(held.begin(), held.end());
    ReadBlock half = blockOver(hull, area);
    half.variables = held;
    return half;
}

} // namespace

qint64 blockReadCharacters(qint64 bytes)
{
    return Port::ReadRequestLength + 2 * bytes + Port::DataReplyOverhead;
}

qint64 readBlockBytes(const ReadBlock& block)
{
    const int area = areaIndex(block.regName);
    if (area < 0)
        return 0;
    const CellRange cells = cellsOf(block, readAreas()[size_t(area)]);
    return std::max<qint64>(0, (cells.end - cells.first) * readAreas()[size_t(area)].cellBytes);
}

qint64 ReadPlan::characters() const
{
    qint64 total = 0;
    for (const ReadBlock& block : blocks)
        total += blockReadCharacters(readBlockBytes(block));
    return total;
}

double ReadPlan::scanSeconds(const ReadCostModel& model) const
{
    const ReadCostModel line = withinRanges(model);
    return static_cast<double>(characters()) * BitsPerCharacter / line.baud
           + frames() * (line.turnaroundUs / 1e6);
}

ReadPlan planReads(const QVector<PolledSpan>& variables, const ReadCostModel& model,
                   const QSet<int>& atFault)
{
    const Weights weights = weightsOf(model);
    ReadPlan plan;
    std::vector<AreaDemand> demands;
    for (const ReadArea& area : readAreas())
        demands.emplace_back(reachableCells(area));
    const std::vector<Placement> placements =
        placeVariables(variables, weights.byteLimit, atFault, demands, plan.unplanned);

    std::vector<AreaBlocks> areas(AreaCount);
    for (size_t area = 0; area < areas.size(); ++area) {
        demands[area].settle();
        areas[area] = {cheapestBlocks(demands[area], readAreas()[size_t(area)], weights), plan.frames()};
        for (const CellRange& cells : areas[area].cells)
            plan.blocks.append(blockOver(cells, readAreas()[size_t(area)]));
    }
    for (int i = 0; i < variables.size(); ++i) {
        const Placement& placement = placements[size_t(i)];
        if (placement.area >= 0)
            linkVariable(i, placement.cells, areas[size_t(placement.area)], plan.blocks);
    }
    return plan;
}

QVector<ReadBlock> splitRefusedBlock(const ReadBlock& refused, const QVector<PolledSpan>& variables)
{
    const int area = areaIndex(refused.regName);
    if (area < 0)
        return {};
    QVector<int> byAddress; // the block's own variables, each in reach of its area
    for (int variable : refused.variables) {
        if (variable >= 0 && variable < variables.size()
            && place(variables.at(variable), LargestByteCount).area == area)
            byAddress.append(variable);
    }
    if (byAddress.size() < 2)
        return {};
    std::stable_sort(byAddress.begin(), byAddress.end(), [&variables](int a, int b) {
        return variables.at(a).first < variables.at(b).first;
    });
    const ReadArea& facts = readAreas()[size_t(area)];
    const CellRange inside = cellsOf(refused, facts);
    const auto half = (byAddress.size() + 1) / 2;
    QVector<ReadBlock> halves;
    for (const QVector<int>& part : {byAddress.mid(0, half), byAddress.mid(half)}) {
        ReadBlock block = halfBlock(part, variables, facts, inside);
        if (!block.variables.isEmpty())
            halves.append(block);
    }
    return halves;
}

VarItem readItem(const ReadBlock& block, qint32 station)
{
    VarItem item;
    item.HostId = 0;
    item.HostSubId = -1;
    item.OpKind = OpKindRead;
    item.RegName = block.regName;
    item.Addr = block.addr;
    item.StationNo = station;
    item.Count = block.count;
    return item;
}
