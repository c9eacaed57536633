// Rebuilding the cyclic read list from the host's whole variable list:
// variables of one register type that lie close together share one block
// read, and a variable longer than the largest request is cut into pieces.

#include "core/driver_object.h"
#include "registers/register_types.h"

#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr qint64 MaxIndex = std::numeric_limits<qint32>::max();

// The type buckets are numbered in the order their blocks stand in the read
// list (the register table's rebuild bucket: X Y M SM S T C, then D SD TV CV
// 32CV). D_bit variables go into the D bucket as the D words that hold their bits.

// Whether a bucket's blocks count bytes of bits or words.
constexpr ReadGroup bucketReadGroup(int bucket)
{
    for (const RegisterTypeInfo& row : RegisterTable::Rows) {
        if (row.rebuildBucket == bucket)
            return row.readGroup;
    }
    return ReadGroup::Words;
}

// One piece of a host variable in a bucket. Positions and lengths are 64-bit
// so that out-of-range addresses and lengths cannot overflow; an address
// itself always fits 32 bits (a host index, the D word of a D_bit index, or a
// cut below MaxIndex).
struct Piece {
    qint64 addr = 0;
    qint64 count = 0;
    qsizetype source = 0; // index in the host list; gives RegName and AddrText to a block it opens
    int bucket = 0;
};

using Pieces = std::vector<Piece>;

// The order of the read list: bucket, then address (negative addresses first).
quint64 sortKey(const Piece& piece)
{
    const auto biasedAddr = static_cast<quint32>(static_cast<qint32>(piece.addr)) ^ 0x80000000u;
    return (static_cast<quint64>(piece.bucket) << 32) | biasedAddr;
}

// Sorts the pieces by sortKey, a byte at a time from the lowest (a radix
// sort): linear in the pieces, where a comparison sort's cost per piece grows
// with the list, and stable, so equal keys keep host-list order. A byte that
// is the same in every key (the high address bytes, mostly) costs one count.
void sortPieces(Pieces& pieces)
{
    constexpr int KeyBits = 40; // bucket above a 32-bit address
    Pieces sorted(pieces.size());
    for (int shift = 0; shift < KeyBits; shift += 8) {
        std::array<size_t, 256> next{};
        for (const Piece& piece : pieces)
            ++next[(sortKey(piece) >> shift) & 0xFF];
        if (std::find(next.begin(), next.end(), pieces.size()) != next.end())
            continue;
        size_t start = 0;
        for (size_t& slot : next)
            start += std::exchange(slot, start);
        for (const Piece& piece : pieces)
            sorted[next[(sortKey(piece) >> shift) & 0xFF]++] = piece;
        pieces.swap(sorted);
    }
}

// Ceiling of a / b for b > 0, also for negative a (-5 / 8 gives 0).
qint64 ceilDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b > 0) ? q + 1 : q;
}

// Floor of a / b for b > 0 (-3 / 8 gives -1).
qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b < 0) ? q - 1 : q;
}

// Cuts a piece longer than `limit` into pieces of `limit`, the last one
// taking the remainder. A variable far beyond its type's index space (count
// 2,000,000,000 with limit 1) is cut into at most as many pieces as the whole
// index space needs (registerCount / limit + 1), and pieces whose start does
// not fit a 32-bit register index are not made, so memory stays bounded.
void appendPieces(Pieces& pieces, const Piece& piece, qint64 limit, qint64 registerCount)
{
    if (piece.count <= limit) {
        pieces.push_back(piece);
        return;
    }
    const qint64 wanted = ceilDiv(piece.count, limit);
    const qint64 made = std::min({wanted, registerCount / limit + 1,
                                  (MaxIndex - piece.addr) / limit + 1});
    for (qint64 k = 0; k < made; ++k) {
        Piece part = piece;
        part.addr = piece.addr + k * limit;
        part.count = k == wanted - 1 ? piece.count - (wanted - 1) * limit : limit;
        pieces.push_back(part);
    }
}

// Builds the blocks of one bucket into `out`, one open block at a time. A bit
// block starts on a byte (bit index a multiple of 8) and counts bytes; a word
// block counts words. A later piece inside the open block changes nothing; one
// that fits when the block grows to its end grows it; any other opens a new block.
class BlockMerger {
public:
    BlockMerger(const QList<HostVarDef>& vars, const VarItem& blockTemplate, VarItemList& out)
        : vars_(vars), template_(blockTemplate), out_(out)
    {
    }

    // [first, last) holds one bucket's pieces in order.
    void mergeBits(Pieces::const_iterator first, Pieces::const_iterator last, qint64 bitLimit)
    {
        for (const Piece& piece : Range{first, last}) {
            const qint64 end = start_ + 8 * length_;
            if (isOpen() && piece.addr < end && piece.addr + piece.count <= end)
                continue;
            const qint64 span = piece.addr + piece.count - start_;
            if (isOpen() && span <= bitLimit) {
                length_ = ceilDiv(span, 8);
            } else {
                // Bit 3 with 10 bits: the block starts at bit 0 and reads
                // (3 + 10) / 8 rounded up = 2 bytes.
                const qint64 start = 8 * floorDiv(piece.addr, 8);
                open(piece, start, ceilDiv(piece.addr - start + piece.count, 8));
            }
        }
        close();
    }

    void mergeWords(Pieces::const_iterator first, Pieces::const_iterator last, qint64 wordLimit)
    {
        for (const Piece& piece : Range{first, last}) {
            const qint64 end = start_ + length_;
            if (isOpen() && piece.addr < end && piece.addr + piece.count <= end)
                continue;
            const qint64 span = piece.addr + piece.count - start_;
            if (isOpen() && span <= wordLimit)
                length_ = span;
            else
                open(piece, piece.addr, piece.count);
        }
        close();
    }

private:
    struct Range {
        Pieces::const_iterator first, last;
        Pieces::const_iterator begin() const { return first; }
        Pieces::const_iterator end() const { return last; }
    };

    bool isOpen() const { return hasBlock_; }

    void open(const Piece& piece, qint64 start, qint64 length)
    {
        close();
        block_ = template_;
        const HostVarDef& source = vars_.at(piece.source);
        block_.RegName = source.RegName;
        block_.AddrText = source.AddrText;
        start_ = start;
        length_ = length;
        hasBlock_ = true;
    }

    // Lengths stay within 32 bits: pieces are at most the limit, spans are
    // compared with it, and a start is a piece's 32-bit address or below it.
    void close()
    {
        if (!hasBlock_)
            return;
        block_.Addr = static_cast<qint32>(start_);
        block_.Count = static_cast<qint32>(length_);
        out_.append(std::move(block_));
        hasBlock_ = false;
        start_ = 0;
        length_ = 0;
    }

    const QList<HostVarDef>& vars_;
    const VarItem& template_;
    VarItemList& out_;
    VarItem block_;
    bool hasBlock_ = false;
    qint64 start_ = 0;
    qint64 length_ = 0;
};

} // namespace

qint32 Tavrin::ReCreatReadVarList(const QList<HostVarDef>& vars)
{
    QMutexLocker lock(&ListMutex);
    ReadVarList.clear();
    if (vars.isEmpty())
        return 0;

    const qint64 wordLimit = blockSize();
    const qint64 bitLimit = wordLimit * 8;
    ScanCount = 0;
    ComInfo.set(ComInfoWord::ScanComplete, 0);

    VarItem blockTemplate = driverItem(OpKindRead);
    blockTemplate.StationNo = ComInfo.get(ComInfoWord::StationNo);

    // Split pass: every known variable into pieces of its bucket, cut to the limit.
    Pieces pieces;
    pieces.reserve(static_cast<size_t>(vars.size()));
    for (qsizetype i = 0; i < vars.size(); ++i) {
        const HostVarDef& var = vars.at(i);
        const RegisterTypeInfo* info = findRegisterType(var.RegName);
        if (!info)
            continue; // not a register name: contributes nothing
        Piece piece;
        piece.addr = var.Addr;
        piece.count = var.Length;
        piece.source = i;
        piece.bucket = info->rebuildBucket;
        qint64 registerCount = info->registerCount;
        if (info->type == RegisterType::DBit) {
            const DataWordRun run = dataWordsOfBits(piece.addr, piece.count);
            piece.addr = run.firstWord;
            piece.count = run.words;
            registerCount = registerTypeInfo(RegisterType::D).registerCount;
        }
        const qint64 limit = info->readGroup == ReadGroup::Bits ? bitLimit : wordLimit;
        appendPieces(pieces, piece, limit, registerCount);
    }

    // Sort pass: bucket by bucket, ascending address, equal addresses in host-list order.
    sortPieces(pieces);

    // Merge passes, bucket by bucket.
    BlockMerger merger(vars, blockTemplate, ReadVarList);
    for (auto first = pieces.cbegin(); first != pieces.cend();) {
        const int bucket = first->bucket;
        const auto last = std::find_if(first, pieces.cend(), [bucket](const Piece& p) { return p.bucket != bucket; });
        if (bucketReadGroup(bucket) == ReadGroup::Bits)
            merger.mergeBits(first, last, bitLimit);
        else
            merger.mergeWords(first, last, wordLimit);
        first = last;
    }
    return ReadVarList.size();
}
