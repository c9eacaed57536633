#include "device_memory.h"

#include "device_map.h"

namespace {

constexpr qint64 AddressSpace = 0x10000;

// Where a named device lives: its byte address and, for a bit device, the
// bit counted from that byte; or a whole word or double word.
struct DeviceLocation {
    qint64 byteAddress = 0;
    int bit = -1;  // -1: the whole device
    int width = 1; // bytes of the element the bit lies in, or of the whole device
};

// D_bit index 163 is bit 3 of D10: byte 0x1000 + 2 x 10, bit 3 of the word.
std::optional<DeviceLocation> locateDataBit(qint64 index)
{
    const DeviceRange* d = deviceRangeNamed(QStringLiteral("D"));
    if (index >= 16 * d->devices())
        return std::nullopt;
    return DeviceLocation{d->firstByte + 2 * (index / 16), static_cast<int>(index % 16), 2};
}

std::optional<DeviceLocation> locate(const QString& regName, qint64 index)
{
    if (index < 0)
        return std::nullopt;
    if (regName == QLatin1String("D_bit"))
        return locateDataBit(index);
    const DeviceRange* range = deviceRangeNamed(regName);
    if (!range || index >= range->devices())
        return std::nullopt;
    switch (range->element) {
    case DeviceElement::Bits:
        return DeviceLocation{range->firstByte + index / 8, static_cast<int>(index % 8), 1};
    case DeviceElement::Words:
        return DeviceLocation{range->firstByte + 2 * index, -1, 2};
    case DeviceElement::DoubleWords:
        return DeviceLocation{range->firstByte + 4 * index, -1, 4};
    }
    return std::nullopt;
}

} // namespace

DeviceMemory::DeviceMemory() : bytes_(AddressSpace, 0) {}

bool DeviceMemory::inSpace(qint64 address)
{
    return address >= 0 && address < AddressSpace;
}

bool DeviceMemory::isReadable(qint64 address, qint64 count) const
{
    if (count < 1 || !inSpace(address) || count > AddressSpace - address)
        return false;
    // Ranges may adjoin (X ends at 0x009F, Y starts at 0x00A0), so check each byte.
    for (qint64 a = address; a < address + count; ++a) {
        if (!deviceRangeAt(a))
            return false;
    }
    return true;
}

bool DeviceMemory::isWritable(qint64 address, qint64 count) const
{
    if (!isReadable(address, count))
        return false;
    for (qint64 a = address; a < address + count; ++a) {
        if (!deviceRangeAt(a)->writable)
            return false;
    }
    return true;
}

// Bit address b is bit b % 8 of byte b / 8: a force reaches the bit devices
// of a writable range (S0-S999 are bit addresses 0x0000-0x03E7).
bool DeviceMemory::isForceable(qint64 bitAddress) const
{
    if (bitAddress < 0)
        return false;
    const DeviceRange* range = deviceRangeAt(bitAddress / 8);
    return range && range->writable && range->element == DeviceElement::Bits;
}

quint8 DeviceMemory::byte(qint64 address) const
{
    return inSpace(address) && deviceRangeAt(address) ? bytes_[static_cast<size_t>(address)] : 0;
}

bool DeviceMemory::setByte(qint64 address, quint8 value)
{
    if (!inSpace(address) || !deviceRangeAt(address))
        return false;
    bytes_[static_cast<size_t>(address)] = value;
    return true;
}

quint16 DeviceMemory::word(qint64 address) const
{
    return static_cast<quint16>(byte(address) | (byte(address + 1) << 8));
}

bool DeviceMemory::setWord(qint64 address, quint16 value)
{
    if (!isReadable(address, 2))
        return false;
    setByte(address, static_cast<quint8>(value & 0xFF));
    setByte(address + 1, static_cast<quint8>(value >> 8));
    return true;
}

quint32 DeviceMemory::doubleWord(qint64 address) const
{
    return word(address) | (static_cast<quint32>(word(address + 2)) << 16);
}

bool DeviceMemory::setDoubleWord(qint64 address, quint32 value)
{
    if (!isReadable(address, 4))
        return false;
    setWord(address, static_cast<quint16>(value & 0xFFFF));
    setWord(address + 2, static_cast<quint16>(value >> 16));
    return true;
}

bool DeviceMemory::bit(qint64 bitAddress) const
{
    if (bitAddress < 0)
        return false;
    return (byte(bitAddress / 8) >> (bitAddress % 8)) & 1;
}

bool DeviceMemory::setBit(qint64 bitAddress, bool on)
{
    if (bitAddress < 0)
        return false;
    const qint64 address = bitAddress / 8;
    const auto mask = static_cast<quint8>(1u << (bitAddress % 8));
    const quint8 old = byte(address);
    return setByte(address, static_cast<quint8>(on ? (old | mask) : (old & ~mask)));
}

QByteArray DeviceMemory::read(qint64 address, int count) const
{
    QByteArray data(static_cast<int>(qBound(qint64(0), qint64(count), AddressSpace)), '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(byte(address + i));
    return data;
}

void DeviceMemory::write(qint64 address, const QByteArray& data)
{
    for (int i = 0; i < data.size(); ++i)
        setByte(address + i, static_cast<quint8>(data.at(i)));
}

std::optional<quint32> DeviceMemory::value(const QString& regName, qint64 index) const
{
    const std::optional<DeviceLocation> at = locate(regName, index);
    if (!at)
        return std::nullopt;
    if (at->bit >= 0) {
        const quint32 element = at->width == 2 ? word(at->byteAddress) : byte(at->byteAddress);
        return (element >> at->bit) & 1u;
    }
    return at->width == 4 ? doubleWord(at->byteAddress) : word(at->byteAddress);
}

bool DeviceMemory::setValue(const QString& regName, qint64 index, quint32 value)
{
    const std::optional<DeviceLocation> at = locate(regName, index);
    if (!at)
        return false;
    if (at->bit >= 0) // bit b of the element starting at the byte: byte b / 8, bit b % 8
        return setBit(at->byteAddress * 8 + at->bit, value != 0);
    if (at->width == 4)
        return setDoubleWord(at->byteAddress, value);
    return setWord(at->byteAddress, static_cast<quint16>(value));
}

void DeviceMemory::clear()
{
    std::fill(bytes_.begin(), bytes_.end(), quint8{0});
}
