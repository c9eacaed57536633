#pragma once

// Which image area a register name selects, and the eight copy operations
// between an area and the byte arrays values travel in (one byte per bit,
// two bytes per word low byte first, four bytes per 32CV counter least
// significant first; 32CV counts are 16-bit halves).
//
// The operations take no lock: their callers hold ImageMutex.

#include "image/register_image.h"
#include "registers/register_types.h"

#include <QByteArray>
#include <QString>

// One image area as an array of units: bytes of packed bits, 16-bit words or
// 32-bit double words.
template <typename Unit> struct AreaSpan {
    Unit* units = nullptr;
    qint64 size = 0; // units in the area, spare bytes included
};

using BitArea = AreaSpan<quint8>;
using WordArea = AreaSpan<quint16>;
using DoubleWordArea = AreaSpan<quint32>;

// How a register type's elements lie in its area. The shape picks the store
// operation, the read operation and the reply decoder:
//   PackedBits   PutPackedBits   GetPackedBits   DecodeBytes
//   WordBits     PutWordBits     GetWordBits     DecodeWords
//   Words        PutWords        GetWords        DecodeWords
//   DoubleWords  PutDoubleWords  GetDoubleWords  DecodeDoubleWords
enum class AreaShape : quint8 { None, PackedBits, WordBits, Words, DoubleWords };

struct ImageArea {
    AreaShape shape = AreaShape::None; // None: the name is no register type
    BitArea bits;                      // PackedBits
    WordArea words;                    // WordBits, Words
    DoubleWordArea doubleWords;        // DoubleWords
};

// The area and shape of a register type, or shape None for a name outside
// the register table (exact, case-sensitive comparison).
ImageArea imageAreaOf(RegisterImage& image, const QString& regName);
ImageArea imageAreaOf(RegisterImage& image, const RegisterTypeInfo& type);

// Register indexes the area of `type` holds: 8 per byte of a bit area (X:
// 33 bytes, 264 indexes), 16 per D word for D_bit, one per word or double word.
qint64 areaElementCount(const RegisterTypeInfo& type);

// The store or read operation of the area's shape; shape None does nothing.
void storeValues(const ImageArea& area, qint32 start, const QByteArray& data, qint32 count);
void readValues(const ImageArea& area, qint32 start, QByteArray& out, qint32 count);

// Array to image. Element k is stored only if `data` holds all its bytes.
void PutPackedBits(BitArea area, qint32 start, const QByteArray& data, qint32 count);
void PutWordBits(WordArea area, qint32 start, const QByteArray& data, qint32 count);
void PutWords(WordArea area, qint32 start, const QByteArray& data, qint32 count);
void PutDoubleWords(DoubleWordArea area, qint32 start, const QByteArray& data, qint32 count);

// Image to array, written from byte 0; the array grows as needed and keeps
// the bytes it held beyond those written.
void GetPackedBits(BitArea area, qint32 start, QByteArray& out, qint32 count);
void GetWordBits(WordArea area, qint32 start, QByteArray& out, qint32 count);
void GetWords(WordArea area, qint32 start, QByteArray& out, qint32 count);
void GetDoubleWords(DoubleWordArea area, qint32 start, QByteArray& out, qint32 count);

// Stores one unit at `index` of the area; an index outside it is skipped.
// Shared with the reply decoders.
template <typename Unit> inline void putUnit(AreaSpan<Unit> area, qint64 index, Unit value)
{
    if (index >= 0 && index < area.size)
        area.units[index] = value;
}
