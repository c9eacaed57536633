// Out-of-contract items still make a well-formed frame: addresses and counts
// are computed in 64 bits, and only the low 16 bits of the address and the
// low 8 bits of the count go on the line.

#include "protocol/read_requests.h"

#include "protocol/device_address_map.h"
#include "protocol/frame_codec.h"

namespace {

// Bytes a word-group block read asks for. A 32CV item counts 16-bit words
// while its Addr counts counters, and one counter per index from the first
// to the last is read: 4 x Count - 4 (Count 2 reads one counter, Count 1
// reads nothing).
qint64 wordReadByteCount(const RegisterTypeInfo& type, qint64 count)
{
    return type.type == RegisterType::CV32 ? 4 * count - 4 : 2 * count;
}

RequestFrame blockRead(const RegisterTypeInfo& type, const VarItem& item, qint64 byteCount)
{
    const QByteArray frame = encodeBlockRead(byteAddressOf(type, item.Addr), byteCount);
    return dataRequestRecord(frame, byteCount, item);
}

} // namespace

RequestFrames BuildReadRequest(const VarItem& item)
{
    const RegisterTypeInfo* type = findRegisterType(item.RegName);
    if (!type)
        return {}; // no register of that name: nothing is queued
    if (type->readGroup == ReadGroup::Bits)
        return {BuildBitRead(*type, item)};
    return {BuildWordRead(*type, item)};
}

RequestFrame BuildBitRead(const RegisterTypeInfo& type, const VarItem& item)
{
    return blockRead(type, item, item.Count);
}

RequestFrame BuildWordRead(const RegisterTypeInfo& type, const VarItem& item)
{
    return blockRead(type, item, wordReadByteCount(type, item.Count));
}
