// The host's reads and writes of PLC values: reads come from the image, and
// writes either change the image alone or, in queue mode, become write items
// of WriteVarList (one per bit, or blocks of BlockSize words).

#include "core/driver_object.h"
#include "image/image_areas.h"

#include <QMutexLocker>

#include <algorithm>

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

    const WriteSplit split = writeSplitOf(regName);
    if (split == WriteSplit::None || count < 1)
        return 0;
    const HostWrite write{split, split == WriteSplit::BitByBit ? 1 : blockSize(), index, count,
                          values};

    // Every piece is offered until WriteVarList is full (1024). Further
    // offers would be dropped anyway, so offering stops there: a count of
    // 2,000,000,000 does not loop that often.
    qint32 result = 0;
    qint64 offset = 0;
    for (; offset < count && result < PendingListLimit; offset += write.step) {
        if (!write.pieceAt(offset, item))
            return result;
        result = AddListWriteVar(item);
        if (CommFailed.load() != 0)
            UpdateImage(item);
    }

    // While the PLC is not answering, the pieces that were not offered still
    // go into the image, so the host reads back what it wrote; only those
    // landing inside the area matter, which bounds this loop.
    if (CommFailed.load() != 0) {
        const qint64 areaEnd = areaElementCount(*findRegisterType(regName));
        if (index < 0) // the first piece reaching index 0
            offset = std::max(offset, (-qint64(index)) / write.step * write.step);
        for (; offset < count && qint64(index) + offset < areaEnd; offset += write.step) {
            if (write.pieceAt(offset, item))
                UpdateImage(item);
        }
    }
    return result;
}
