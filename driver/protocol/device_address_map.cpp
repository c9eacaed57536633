#include "protocol/device_address_map.h"

qint64 byteAddressOf(const RegisterTypeInfo& type, qint64 index)
{
    if (type.bytesPerIndex == 0)
        return type.byteBase + index / 8;
    return type.byteBase + type.bytesPerIndex * index;
}

qint64 bitAddressOf(const RegisterTypeInfo& type, qint64 index)
{
    return type.forceBase + index;
}
