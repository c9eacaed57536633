#include "device_map.h"

namespace {

using E = DeviceElement;

// clang-format off
const DeviceRange PortRanges[] = {
//   name    first   last    element         writable   devices
    {"S",    0x0000, 0x007C, E::Bits,        true},  // states S0-S999
    {"X",    0x0080, 0x009F, E::Bits,        false}, // inputs X0-X377 (octal), driven by the hardware
    {"Y",    0x00A0, 0x00BF, E::Bits,        true},  // outputs Y0-Y377 (octal)
    {"T",    0x00C0, 0x00DF, E::Bits,        true},  // timer contacts T0-T255
    {"M",    0x0100, 0x01BF, E::Bits,        true},  // relays M0-M1535; higher ones lie elsewhere on a real port
    {"C",    0x01C0, 0x01DF, E::Bits,        true},  // counter contacts C0-C255
    {"SM",   0x01E0, 0x01FF, E::Bits,        true},  // special relays M8000-M8255
    {"TV",   0x0800, 0x09FF, E::Words,       true},  // timer values T0-T255
    {"CV",   0x0A00, 0x0B8F, E::Words,       true},  // 16-bit counter values C0-C199
    {"32CV", 0x0C00, 0x0CDF, E::DoubleWords, true},  // 32-bit counter values C200-C255
    {"SD",   0x0E00, 0x0FFF, E::Words,       true},  // special data registers D8000-D8255
    {"D",    0x1000, 0x4E7F, E::Words,       true},  // data registers D0-D7999
};
// clang-format on

constexpr int RangeCount = sizeof PortRanges / sizeof PortRanges[0];

} // namespace

qint64 DeviceRange::devices() const
{
    switch (element) {
    case DeviceElement::Bits:
        return 8 * bytes();
    case DeviceElement::Words:
        return bytes() / 2;
    case DeviceElement::DoubleWords:
        return bytes() / 4;
    }
    return 0;
}

const DeviceRange* deviceRanges()
{
    return PortRanges;
}

int deviceRangeCount()
{
    return RangeCount;
}

const DeviceRange* deviceRangeAt(qint64 address)
{
    for (const DeviceRange& range : PortRanges) {
        if (address >= range.firstByte && address <= range.lastByte)
            return &range;
    }
    return nullptr;
}

const DeviceRange* deviceRangeNamed(const QString& name)
{
    for (const DeviceRange& range : PortRanges) {
        if (name == QLatin1String(range.name))
            return &range;
    }
    return nullptr;
}
