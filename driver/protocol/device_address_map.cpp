#include "protocol/device_address_map.h"

namespace {

using W = WriteCommand;

// clang-format off
const DeviceAddressInfo kMap[RegisterTypeCount] = {
//   type               byte base  bytes/index  write command     force base
    {RegisterType::X,    0x0080,    0,           W::None,          -1},
    {RegisterType::Y,    0x00A0,    0,           W::Force,         0x0500},
    {RegisterType::M,    0x0100,    0,           W::Force,         0x0800},
    {RegisterType::SM,   0x01E0,    0,           W::Force,         0x0F00},
    {RegisterType::S,    0x0000,    0,           W::Force,         0x0000},
    {RegisterType::T,    0x00C0,    0,           W::Force,         0x0600},
    {RegisterType::C,    0x01C0,    0,           W::Force,         0x0E00},
    {RegisterType::D,    0x1000,    2,           W::BlockWrite,    -1},
    {RegisterType::DBit, 0x1000,    2,           W::BitOfWordPair, -1},
    {RegisterType::SD,   0x0E00,    2,           W::BlockWrite,    -1},
    {RegisterType::TV,   0x0800,    2,           W::BlockWrite,    -1},
    {RegisterType::CV,   0x0A00,    2,           W::BlockWrite,    -1},
    {RegisterType::CV32, 0x0C00,    4,           W::BlockWrite,    -1},
};
// clang-format on

} // namespace

const DeviceAddressInfo& deviceAddressInfo(RegisterType type)
{
    return kMap[static_cast<int>(type)];
}

qint64 byteAddressOf(RegisterType type, qint64 index)
{
    const DeviceAddressInfo& info = deviceAddressInfo(type);
    if (info.bytesPerIndex == 0)
        return info.byteBase + index / 8;
    return info.byteBase + info.bytesPerIndex * index;
}

qint64 bitAddressOf(RegisterType type, qint64 index)
{
    return deviceAddressInfo(type).forceBase + index;
}
