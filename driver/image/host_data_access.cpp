// The host's reads and writes of PLC values: reads come from the image, and
// writes either change the image alone or, in queue mode, become write items
// of WriteVarList (one per bit, or blocks of BlockSize words).

#include "core/driver_object.h"
#include "image/image_areas.h"

#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

enum class WriteSplit : quint8 { None, BitByBit, WordBlocks };

// Queue mode cuts writes by type, in this order: Y M SM S T C D_bit bit by
// bit, D SD TV CV 32CV in word blocks; X and unknown names queue nothing.
WriteSplit writeSplitOf(const RegisterTypeInfo* info)
{
    if (!info || info->type == RegisterType::X)
        return WriteSplit::None;
    return info->addressKind == AddressKind::Bit ? WriteSplit::BitByBit : WriteSplit::WordBlocks;
}

// The largest word area (D, 8000 words). A block's Data is padded with zero
// bytes to 2 x Count bytes, but never beyond this many words, so a host
// BlockSize of 2,000,000,000 does not allocate gigabytes. Such a block
// cannot be carried by any request anyway (the count field holds at most
// 127 words), and from a start index of 0 or more its words past the
// 8000th lie past every area.
constexpr qint64 MaxPaddedWords = 8000;

bool fitsRegisterIndex(qint64 index)
{
    return index >= std::numeric_limits<qint32>::min()
           && index <= std::numeric_limits<qint32>::max();
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

qint32 Tavrin::GetRegisterData(const QString& regName, qint32 index, qint32 /*station*/,
                               QByteArray& values, qint32 count)
{
    QMutexLocker lock(&ImageMutex);
    readValues(imageAreaOf(Image, regName), index, values, count);
    return 1;
}

void Tavrin::UpdateImage(const VarItem& item)
{
    QMutexLocker lock(&ImageMutex);
    storeValues(imageAreaOf(Image, item.RegName), item.Addr, item.Data, item.Count);
}

qint32 Tavrin::SetRegisterData(const QString& regName, qint32 index, qint32 station,
                               const QByteArray& values, qint32 count)
{
    VarItem item = driverItem(OpKindWrite);
    item.RegName = regName;
    item.StationNo = ComInfo.get(ComInfoWord::StationPerVar) != 0
                         ? station
                         : ComInfo.get(ComInfoWord::StationNo);

    if (ComInfo.get(ComInfoWord::WriteMode) != WriteModeQueue) {
        // Image only: every register name of the table, X included.
        item.Addr = index;
        item.Count = count;
        item.Data = values;
        UpdateImage(item);
        return 1;
    }

    const RegisterTypeInfo* info = findRegisterType(regName);
    const WriteSplit split = writeSplitOf(info);
    if (split == WriteSplit::None || count < 1)
        return 0;

    // Pieces: one item per bit, or blocks of B words, the last holding
    // count mod B (B 32, "D" from 0 count 70: (0, 32), (32, 32), (64, 6)).
    // 32CV counts 16-bit halves, so with an odd B a block boundary may fall
    // inside a counter. Offsets and addresses are computed in 64 bits; a
    // piece whose address leaves the 32-bit index range is not made.
    const qint64 step = split == WriteSplit::BitByBit ? 1 : blockSize();
    auto makePiece = [&](qint64 offset) {
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
    };

    // Every piece is offered until WriteVarList is full (1024). Further
    // offers would be dropped anyway, so offering stops there: a count of
    // 2,000,000,000 does not loop that often.
    qint32 result = 0;
    qint64 offset = 0;
    for (; offset < count && result < PendingListLimit; offset += step) {
        if (!makePiece(offset))
            return result;
        result = AddListWriteVar(item);
        if (CommFailed.load() != 0)
            UpdateImage(item);
    }

    // While the PLC is not answering, the pieces that were not offered still
    // go into the image, so the host reads back what it wrote; only those
    // landing inside the area matter, which bounds this loop.
    if (CommFailed.load() != 0) {
        const qint64 areaEnd = areaElementCount(imageAreaOf(Image, info->type));
        if (index < 0)
            offset = std::max(offset, (-qint64(index)) / step * step); // first piece reaching 0
        for (; offset < count && qint64(index) + offset < areaEnd; offset += step) {
            if (makePiece(offset))
                UpdateImage(item);
        }
    }
    return result;
}
