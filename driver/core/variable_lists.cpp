// The three variable lists: the cyclic read blocks, the pending writes and
// the pending one-shot reads, and how items enter them.

#include "core/driver_object.h"
#include "registers/register_types.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 MaxIndex = std::numeric_limits<qint32>::max();

// The largest word area (D, 8000 words). A block's Data is padded with zero
// bytes to 2 x Count bytes, but never beyond this many words, so a host
// BlockSize of 2,000,000,000 does not allocate gigabytes. Such a block
// cannot be carried by any request anyway (the count field holds at most
// 127 words), and from a start index of 0 or more its words past the
// 8000th lie past every area.
constexpr qint64 MaxPaddedWords = 8000;

bool containsBlock(const VarItemList& list, const VarItem& block)
{
    for (int i = 0; i < list.size(); ++i) {
        if (isSameBlock(list.at(i), block))
            return true;
    }
    return false;
}

bool fitsRegisterIndex(qint64 index)
{
    return index >= std::numeric_limits<qint32>::min() && index <= MaxIndex;
}

// `bytes` bytes of `values` from byte `from` on, zero where `values` ends.
QByteArray paddedSlice(const QByteArray& values, qint64 from, qint64 bytes)
{
    QByteArray slice(static_cast<int>(bytes), '\0');
    const qint64 available = std::clamp<qint64>(values.size() - from, 0, bytes);
    if (available > 0)
        std::memcpy(slice.data(), values.constData() + from, static_cast<size_t>(available));
    return slice;
}

} // namespace

OnceReadUnits onceReadUnits(const QString& regName, qint64 addr, qint64 count)
{
    const RegisterTypeInfo* info = findRegisterType(regName);
    if (info && info->readGroup == ReadGroup::Bits)
        return {addr & ~qint64(7), (addr % 8 + count) / 8 + 1, 8};
    if (info && info->type == RegisterType::DBit) {
        const DataWordRun run = dataWordsOfBits(addr, count);
        return {run.firstWord, run.words, 1};
    }
    return {addr, count, 1};
}

bool isSameBlock(const VarItem& a, const VarItem& b)
{
    return a.HostId == b.HostId && a.HostSubId == b.HostSubId && a.StationNo == b.StationNo
        && a.RegName == b.RegName && a.Addr == b.Addr && a.Count == b.Count;
}

WriteSplit writeSplitOf(const QString& regName)
{
    const RegisterTypeInfo* info = findRegisterType(regName);
    if (!info || info->write == WriteCommand::None)
        return WriteSplit::None;
    return info->addressKind == AddressKind::Bit ? WriteSplit::BitByBit : WriteSplit::WordBlocks;
}

bool HostWrite::pieceAt(qint64 offset, VarItem& item) const
{
    const qint64 addr = qint64(index) + offset;
    if (!fitsRegisterIndex(addr))
        return false;
    const qint64 elements = std::min<qint64>(step, count - offset);
    item.Addr = static_cast<qint32>(addr);
    item.Count = static_cast<qint32>(elements);
    item.Data = split == WriteSplit::BitByBit
                    ? paddedSlice(values, offset, 1)
                    : paddedSlice(values, 2 * offset, 2 * std::min(elements, MaxPaddedWords));
    return true;
}

// No lock: the host must not call this while the request cycle or a rebuild runs.
qint32 Tavrin::AddListReadVar(const VarItem& item)
{
    ReadVarList.append(item);
    return ReadVarList.size();
}

qint32 Tavrin::AddListWriteVar(const VarItem& item)
{
    {
        QMutexLocker lock(&ListMutex);
        if (WriteVarList.size() < PendingListLimit)
            WriteVarList.append(item); // a full list drops the item silently
    }
    // The size is read after the append's lock is released, so it may already
    // count other threads' changes; it is read under a lock of its own so
    // that the read never races with another thread's append.
    QMutexLocker lock(&ListMutex);
    return WriteVarList.size();
}

qint32 Tavrin::AddListOnceReadVar(VarItem& item)
{
    if (item.Addr < 0)
        return 0;
    item.WorkA = 0;
    item.WorkB = 0;
    if (ComInfo.get(ComInfoWord::StationPerVar) == 0)
        item.StationNo = ComInfo.get(ComInfoWord::StationNo);

    const OnceReadUnits range = onceReadUnits(item.RegName, item.Addr, item.Count);
    // units fits 32 bits: at most Count, or Count / 8 + 2 for bit types.
    item.Addr = static_cast<qint32>(range.base);
    item.Count = static_cast<qint32>(range.units);

    // A count of 0 or less asks for nothing: no block at all. (Taken
    // literally, units -5 with BlockSize 32 would leave rest -5 and queue one
    // block of -5 elements.)
    const qint64 limit = blockSize();
    const qint64 blocks = range.units > 0 ? (range.units + limit - 1) / limit : 0;
    const qint64 rest = range.units % limit != 0 ? range.units % limit : limit;
    // Blocks whose start would not fit a 32-bit register index are not made.
    const qint64 step = limit * range.indexesPerUnit;
    const qint64 made = std::min(blocks, (MaxIndex - range.base) / step + 1);
    auto setBlock = [&](qint64 k) {
        item.Addr = static_cast<qint32>(range.base + k * step);
        item.Count = static_cast<qint32>(k == blocks - 1 ? rest : limit);
    };

    QMutexLocker lock(&ListMutex);
    for (qint64 k = 0; k < made; ++k) {
        // Once the list is full no later block can enter it (it would be
        // dropped or is a duplicate), so stop: a count of 2,000,000,000 must
        // not walk two billion blocks.
        if (OnceReadVarList.size() >= PendingListLimit)
            break;
        setBlock(k);
        if (!containsBlock(OnceReadVarList, item))
            OnceReadVarList.append(item);
    }
    // The caller's record ends as the last block, also when the loop stopped early.
    if (made > 0)
        setBlock(made - 1);
    return OnceReadVarList.size();
}
