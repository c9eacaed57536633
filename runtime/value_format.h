#pragma once

// How values are written and shown: bit, int16, uint16, int32 and uint32 (two
// D words, low word first), float (IEEE 754 over two words) and hex. The bytes
// are those of the module's value arrays: one byte per bit, two bytes per
// word low byte first, four bytes per 32-bit counter least significant first.

#include "register_kinds.h"

#include <QByteArray>
#include <QString>

enum class ValueFormat { Bit, Int16, Uint16, Int32, Uint32, Float, Hex };

// "bit, int16, uint16, int32, uint32, float, hex"
QString valueFormatNames();
// The formats that suit a register kind, for the message when one does not:
// "int16, uint16, int32, uint32, float, hex" for data words.
QString suitingFormatNames(ElementKind element);
QString valueFormatName(ValueFormat format);
bool parseValueFormat(const QString& name, ValueFormat* format);

// bit for bit registers, int16 for data words, int32 for 32-bit counters.
ValueFormat defaultValueFormat(ElementKind element);

// Registers (bits, words, 32-bit counters) one value covers, or 0 when the
// format does not suit the register: int32 covers two D words but one 32-bit
// counter; int16 does not suit a 32-bit counter, nor any format but bit a bit.
int registersPerValue(ValueFormat format, ElementKind element);

// Bytes one value takes in the module's value arrays.
int bytesPerValue(ValueFormat format, ElementKind element);

// The count GetRegisterData and write items take for `registers` registers:
// bits, words, or two words per 32-bit counter.
int moduleCount(ElementKind element, int registers);

// Text to bytes. False with a message that says what is accepted.
bool encodeValue(const QString& text, ValueFormat format, ElementKind element, QByteArray* bytes,
                 QString* error);

// Bytes of one value (bytesPerValue of them) to text.
QString decodeValue(const QByteArray& bytes, ValueFormat format, ElementKind element);
