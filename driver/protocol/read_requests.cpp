// Read requests: one block read "0" per list item. The lists deliver bit
// blocks in whole bytes and D_bit blocks as the D words holding the bits, so
// the builders neither split nor check; out-of-contract items still make a
// well-formed frame (addresses and counts in 64 bits, only the low 16 bits of
// the address and the low 8 bits of the count go on the line).

#include "core/driver_object.h"
#include "protocol/device_address_map.h"
#include "protocol/frame_codec.h"
#include "protocol/request_record.h"

namespace {

// Bytes a word-group block read asks for. A 32CV item counts 16-bit words
// while its Addr counts counters, and one counter per index from the first
// to the last is read: 4 x Count - 4 (Count 2 reads one counter, Count 1
// reads nothing).
qint64 wordReadByteCount(RegisterType type, qint64 count)
{
    return type == RegisterType::CV32 ? 4 * count - 4 : 2 * count;
}

} // namespace

void Tavrin::BuildReadRequest(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (!info)
        return; // no register of that name: nothing is queued
    if (info->readGroup == ReadGroup::Bits)
        BuildBitRead(item);
    else
        BuildWordRead(item);
}

void Tavrin::BuildBitRead(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (!info || info->readGroup != ReadGroup::Bits)
        return;
    const qint64 byteCount = item.Count;
    const QByteArray frame = encodeBlockRead(byteAddressOf(info->type, item.Addr), byteCount);
    AppendFrame(dataRequestRecord(frame, byteCount, item));
    OpenTransaction(1);
}

void Tavrin::BuildWordRead(const VarItem& item)
{
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    if (!info || info->readGroup != ReadGroup::Words)
        return;
    const qint64 byteCount = wordReadByteCount(info->type, item.Count);
    const QByteArray frame = encodeBlockRead(byteAddressOf(info->type, item.Addr), byteCount);
    AppendFrame(dataRequestRecord(frame, byteCount, item));
    OpenTransaction(1);
}
