// Rebuilding the cyclic read list from the host's whole variable list:
// variables of one register type that lie close together share one block
// read, and a variable longer than the largest request is cut into pieces.

#include "core/driver_object.h"
#include "registers/register_types.h"

#include <QMutexLocker>

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace {

constexpr qint64 MaxIndex = std::numeric_limits<qint32>::max();

// The type buckets, in the order their blocks stand in the read list (the
// register table's rebuild bucket: X Y M SM S T C, then D SD TV CV 32CV).
// D_bit variables go into the D bucket as the D words that hold their bits.
constexpr int BucketCount = rebuildBucketCount();

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
// so that out-of-range addresses and lengths cannot overflow.
struct Piece {
    qint64 addr = 0;
    qint64 count = 0;
    const HostVarDef* source = nullptr; // gives RegName and AddrText to a block it opens
    qint32 stationNo = 0;
};

using Bucket = std::vector<Piece>;

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
void appendPieces(Bucket& bucket, const Piece& piece, qint64 limit, qint64 registerCount)
{
    if (piece.count <= limit) {
        bucket.push_back(piece);
        return;
    }
    const qint64 pieces = ceilDiv(piece.count, limit);
    const qint64 made = std::min({pieces, registerCount / limit + 1,
                                  (MaxIndex - piece.addr) / limit + 1});
    for (qint64 k = 0; k < made; ++k) {
        Piece part = piece;
        part.addr = piece.addr + k * limit;
        part.count = k == pieces - 1 ? piece.count - (pieces - 1) * limit : limit;
        bucket.push_back(part);
    }
}

// Builds the blocks of one bucket into `out`, one open block at a time. A bit
// block starts on a byte (bit index a multiple of 8) and counts bytes; a word
// block counts words. A later piece inside the open block changes nothing; one
// that fits when the block grows to its end grows it; any other opens a new block.
class BlockMerger {
public:
    BlockMerger(const VarItem& blockTemplate, VarItemList& out)
        : template_(blockTemplate), out_(out)
    {
    }

    void mergeBits(const Bucket& bucket, qint64 bitLimit)
    {
        for (const Piece& piece : bucket) {
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

    void mergeWords(const Bucket& bucket, qint64 wordLimit)
    {
        for (const Piece& piece : bucket) {
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
    bool isOpen() const { return hasBlock_; }

    void open(const Piece& piece, qint64 start, qint64 length)
    {
        close();
        block_ = template_;
        block_.RegName = piece.source->RegName;
        block_.AddrText = piece.source->AddrText;
        block_.StationNo = piece.stationNo;
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

    const VarItem blockTemplate = driverItem(OpKindRead);

    // Split pass: every known variable into its bucket, cut to the limit.
    std::array<Bucket, BucketCount> buckets;
    for (const HostVarDef& var : vars) {
        const RegisterTypeInfo* info = findRegisterType(var.RegName);
        if (!info)
            continue; // not a register name: contributes nothing
        Piece piece;
        piece.addr = var.Addr;
        piece.count = var.Length;
        piece.source = &var;
        piece.stationNo = ComInfo.get(ComInfoWord::StationNo);
        qint64 registerCount = info->registerCount;
        if (info->type == RegisterType::DBit) {
            const DataWordRun run = dataWordsOfBits(piece.addr, piece.count);
            piece.addr = run.firstWord;
            piece.count = run.words;
            registerCount = registerTypeInfo(RegisterType::D).registerCount;
        }
        const qint64 limit = info->readGroup == ReadGroup::Bits ? bitLimit : wordLimit;
        appendPieces(buckets[static_cast<size_t>(info->rebuildBucket)], piece, limit, registerCount);
    }

    // Sort pass: ascending address, equal addresses in host-list order.
    for (Bucket& bucket : buckets) {
        std::stable_sort(bucket.begin(), bucket.end(),
                         [](const Piece& a, const Piece& b) { return a.addr < b.addr; });
    }

    // Merge passes, bucket by bucket.
    BlockMerger merger(blockTemplate, ReadVarList);
    for (int b = 0; b < BucketCount; ++b) {
        if (bucketReadGroup(b) == ReadGroup::Bits)
            merger.mergeBits(buckets[static_cast<size_t>(b)], bitLimit);
        else
            merger.mergeWords(buckets[static_cast<size_t>(b)], wordLimit);
    }
    return ReadVarList.size();
}
