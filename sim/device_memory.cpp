#include "device_memory.h"

#include "device_areas.h"
#include "protocol/device_address_map.h"

namespace {

constexpr qint64 AddressSpace = 0x10000;

// Where a named element lives: a byte address and a bit within the element
// (bits counted from the element's lowest byte), or a whole element.
struct ElementLocation {
    qint64 byteAddress = 0;
    int bit = -1; // -1: the whole element
    int width = 1; // bytes of the whole element
};

std::optional<ElementLocation> locate(const QString& regName, qint64 index)
{
    const RegisterTypeInfo* info = findRegisterType(regName);
    if (!info || index < 0)
        return std::nullopt;
    const DeviceArea& area = deviceAreaOf(info->type);
    switch (info->type) {
    case RegisterType::DBit: // word x 16 + bit: D10.3 is index 163
        if (index >= area.elementCount * 16)
            return std::nullopt;
        return ElementLocation{byteAddressOf(RegisterType::DBit, index / 16),
                               static_cast<int>(index % 16), 2};
    default:
        break;
    }
    if (index >= area.elementCount)
        return std::nullopt;
    const qint64 address = byteAddressOf(info->type, index);
    switch (info->element) {
    case ElementKind::Bit:
        return ElementLocation{address, static_cast<int>(index % 8), 1};
    case ElementKind::Word:
        return ElementLocation{address, -1, 2};
    case ElementKind::DoubleWord:
        return ElementLocation{address, -1, 4};
    }
    return std::nullopt;
}

} // namespace

DeviceMemory::DeviceMemory() : bytes_(AddressSpace, 0) {}

bool DeviceMemory::inSpace(qint64 address)
{
    return address >= 0 && address < AddressSpace;
}

bool DeviceMemory::inArea(qint64 address)
{
    for (const DeviceArea& area : deviceAreas()) {
        if (address >= area.firstByte && address < area.firstByte + area.byteCount)
            return true;
    }
    return false;
}

bool DeviceMemory::isReadable(qint64 address, qint64 count) const
{
    if (count < 1 || !inSpace(address) || count > AddressSpace - address)
        return false;
    // Areas may adjoin (X ends at 0x009F, Y starts at 0x00A0), so check each byte.
    for (qint64 a = address; a < address + count; ++a) {
        if (!inArea(a))
            return false;
    }
    return true;
}

bool DeviceMemory::isWritable(qint64 address, qint64 count) const
{
    if (!isReadable(address, count))
        return false;
    for (const DeviceArea& area : deviceAreas()) {
        const bool overlaps = address < area.firstByte + area.byteCount
                              && area.firstByte < address + count;
        if (overlaps && !area.writable)
            return false;
    }
    return true;
}

bool DeviceMemory::isForceable(qint64 bitAddress) const
{
    for (const DeviceArea& area : deviceAreas()) {
        if (area.writable && area.firstBit >= 0 && bitAddress >= area.firstBit
            && bitAddress < area.firstBit + area.elementCount)
            return true;
    }
    return false;
}

quint8 DeviceMemory::byte(qint64 address) const
{
    return inSpace(address) && inArea(address) ? bytes_[static_cast<size_t>(address)] : 0;
}

bool DeviceMemory::setByte(qint64 address, quint8 value)
{
    if (!inSpace(address) || !inArea(address))
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
    const std::optional<ElementLocation> at = locate(regName, index);
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
    const std::optional<ElementLocation> at = locate(regName, index);
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
