#include "image/image_areas.h"

#include <algorithm>

namespace {

template <typename Unit> AreaSpan<Unit> poolArea(Unit* pool, RegisterType type)
{
    return {pool + imageOffsetOf(type), qint64(imageUnitsOf(type))};
}

// How the type's elements lie in its area: bits packed into the bytes of a
// bit area, or into the words of the D area (D_bit), words, double words.
AreaShape shapeOf(const RegisterTypeInfo& type)
{
    switch (type.element) {
    case ElementKind::Bit:
        return imageUnitOf(type.type) == ElementKind::Bit ? AreaShape::PackedBits
                                                          : AreaShape::WordBits;
    case ElementKind::Word:
        return AreaShape::Words;
    case ElementKind::DoubleWord:
        return AreaShape::DoubleWords;
    }
    return AreaShape::None;
}

template <typename Unit> Unit unitAt(AreaSpan<Unit> area, qint64 index)
{
    return index >= 0 && index < area.size ? area.units[index] : Unit(0);
}

// Bit index `n` of an area of `bitsPerUnit`-bit units: bit n mod width (0
// least significant) of unit n / width. An index outside the area reads 0.
template <typename Unit> quint8 bitAt(AreaSpan<Unit> area, int bitsPerUnit, qint64 n)
{
    if (n < 0)
        return 0; // -3 / 8 would round to unit 0: test the sign first
    return static_cast<quint8>((unitAt(area, n / bitsPerUnit) >> (n % bitsPerUnit)) & 1);
}

template <typename Unit> void setBitAt(AreaSpan<Unit> area, int bitsPerUnit, qint64 n, bool on)
{
    if (n < 0 || n / bitsPerUnit >= area.size)
        return;
    const auto mask = static_cast<Unit>(1u << (n % bitsPerUnit));
    Unit& unit = area.units[n / bitsPerUnit];
    unit = on ? static_cast<Unit>(unit | mask) : static_cast<Unit>(unit & ~mask);
}

// Grows `out` once to hold at least `bytes` bytes and returns where to write;
// bytes it held beyond them are kept.
quint8* writableBytes(QByteArray& out, qint64 bytes)
{
    if (out.size() < bytes)
        out.resize(static_cast<int>(bytes));
    return reinterpret_cast<quint8*>(out.data());
}

quint8 byteAt(const QByteArray& data, qint64 i)
{
    return static_cast<quint8>(data.at(static_cast<int>(i)));
}

template <typename Unit>
void putBits(AreaSpan<Unit> area, int bitsPerUnit, qint32 start, const QByteArray& data,
             qint32 count)
{
    const qint64 elements = std::min<qint64>(count, data.size());
    for (qint64 k = 0; k < elements; ++k)
        setBitAt(area, bitsPerUnit, start + k, byteAt(data, k) == 1);
}

template <typename Unit>
void getBits(AreaSpan<Unit> area, int bitsPerUnit, qint32 start, QByteArray& out, qint32 count)
{
    if (count < 1)
        return;
    const qint64 elements = std::min<qint64>(count, area.size * bitsPerUnit);
    quint8* bytes = writableBytes(out, elements);
    for (qint64 k = 0; k < elements; ++k)
        bytes[k] = bitAt(area, bitsPerUnit, start + k);
}

} // namespace

// The area of a register type, from the register table: its row (or the row
// whose area it shares) gives the pool and the place in it, its element the shape.
ImageArea imageAreaOf(RegisterImage& image, const RegisterTypeInfo& type)
{
    ImageArea area;
    area.shape = shapeOf(type);
    switch (imageUnitOf(type.type)) {
    case ElementKind::Bit:
        area.bits = poolArea(image.bits, type.type);
        break;
    case ElementKind::Word:
        area.words = poolArea(image.words, type.type);
        break;
    case ElementKind::DoubleWord:
        area.doubleWords = poolArea(image.doubleWords, type.type);
        break;
    }
    return area;
}

ImageArea imageAreaOf(RegisterImage& image, const QString& regName)
{
    const RegisterTypeInfo* info = findRegisterType(regName);
    return info ? imageAreaOf(image, *info) : ImageArea{};
}

qint64 areaElementCount(const RegisterTypeInfo& type)
{
    const qint64 units = imageUnitsOf(type.type);
    // clang-format off
    switch (shapeOf(type)) {
    case AreaShape::PackedBits: return units * 8;
    case AreaShape::WordBits: return units * 16;
    case AreaShape::Words:
    case AreaShape::DoubleWords: return units;
    case AreaShape::None: break;
    }
    // clang-format on
    return 0;
}

void storeValues(const ImageArea& area, qint32 start, const QByteArray& data, qint32 count)
{
    // clang-format off
    switch (area.shape) {
    case AreaShape::PackedBits: PutPackedBits(area.bits, start, data, count); break;
    case AreaShape::WordBits: PutWordBits(area.words, start, data, count); break;
    case AreaShape::Words: PutWords(area.words, start, data, count); break;
    case AreaShape::DoubleWords: PutDoubleWords(area.doubleWords, start, data, count); break;
    case AreaShape::None: break;
    }
    // clang-format on
}

void readValues(const ImageArea& area, qint32 start, QByteArray& out, qint32 count)
{
    // clang-format off
    switch (area.shape) {
    case AreaShape::PackedBits: GetPackedBits(area.bits, start, out, count); break;
    case AreaShape::WordBits: GetWordBits(area.words, start, out, count); break;
    case AreaShape::Words: GetWords(area.words, start, out, count); break;
    case AreaShape::DoubleWords: GetDoubleWords(area.doubleWords, start, out, count); break;
    case AreaShape::None: break;
    }
    // clang-format on
}

// The eight copy operations.
//
// Indexes outside an area (chosen behaviour; callers are meant to stay
// inside): the image trusts the host's indexes and counts, so every element
// index is computed in 64 bits (start + k never overflows) and tested against
// the area, spare bytes included (X has 33 bytes: bit indexes 0..263).
//  - Store: an element outside the area is skipped, like an element whose
//    bytes the array lacks. A store never loops past the array's elements.
//  - Read: an element outside the area reads as 0, so the host still gets
//    its count of elements; but a read never yields more elements than the
//    area holds: "D" from 0 with count 2,000,000,000 gives 8000 words (16000
//    bytes), not gigabytes.
// A count below 1 does nothing; the host's array is grown at most once.

void PutPackedBits(BitArea area, qint32 start, const QByteArray& data, qint32 count)
{
    putBits(area, 8, start, data, count);
}

void PutWordBits(WordArea area, qint32 start, const QByteArray& data, qint32 count)
{
    putBits(area, 16, start, data, count); // the other bits of each D word are kept
}

void PutWords(WordArea area, qint32 start, const QByteArray& data, qint32 count)
{
    const qint64 words = std::min<qint64>(count, data.size() / 2);
    for (qint64 k = 0; k < words; ++k) {
        const auto value = static_cast<quint16>(byteAt(data, 2 * k) | byteAt(data, 2 * k + 1) << 8);
        putUnit(area, start + k, value);
    }
}

void PutDoubleWords(DoubleWordArea area, qint32 start, const QByteArray& data, qint32 count)
{
    // count is in 16-bit halves: 3 halves store one counter.
    const qint64 counters = std::min<qint64>(count / 2, data.size() / 4);
    for (qint64 m = 0; m < counters; ++m) {
        const quint32 value = quint32(byteAt(data, 4 * m)) | quint32(byteAt(data, 4 * m + 1)) << 8
                              | quint32(byteAt(data, 4 * m + 2)) << 16
                              | quint32(byteAt(data, 4 * m + 3)) << 24;
        putUnit(area, start + m, value);
    }
}

void GetPackedBits(BitArea area, qint32 start, QByteArray& out, qint32 count)
{
    getBits(area, 8, start, out, count);
}

void GetWordBits(WordArea area, qint32 start, QByteArray& out, qint32 count)
{
    getBits(area, 16, start, out, count);
}

void GetWords(WordArea area, qint32 start, QByteArray& out, qint32 count)
{
    if (count < 1)
        return;
    const qint64 words = std::min<qint64>(count, area.size);
    quint8* bytes = writableBytes(out, 2 * words);
    for (qint64 k = 0; k < words; ++k) {
        const quint16 value = unitAt(area, start + k);
        bytes[2 * k] = static_cast<quint8>(value & 0xFF);
        bytes[2 * k + 1] = static_cast<quint8>(value >> 8);
    }
}

void GetDoubleWords(DoubleWordArea area, qint32 start, QByteArray& out, qint32 count)
{
    const qint64 counters = std::min<qint64>(count / 2, area.size);
    if (counters < 1)
        return; // count 1 (half a counter) yields nothing
    quint8* bytes = writableBytes(out, 4 * counters);
    for (qint64 m = 0; m < counters; ++m) {
        const quint32 value = unitAt(area, start + m);
        for (int b = 0; b < 4; ++b)
            bytes[4 * m + b] = static_cast<quint8>(value >> (8 * b));
    }
}
