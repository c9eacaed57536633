#pragma once

// The driver's local copy of PLC device memory: one fixed area per register
// type that owns one in the register table, all zero at load, never cleared.
// Areas of one unit lie in one pool, in table order, each as large as its
// row's image units: bytes of packed bits (register index i is bit i mod 8
// of byte i / 8, bit 0 least significant, which is also how the PLC returns
// bit devices), 16-bit words, or 32-bit double words (32CV). The D area
// serves both "D" and "D_bit" (bit b of D w is bit b of word w).

#include "registers/register_types.h"

#include <QtGlobal>

// The unit an area is made of: the element of the row that owns it.
constexpr ElementKind imageUnitOf(RegisterType type)
{
    return registerTypeInfo(registerTypeInfo(type).imageArea).element;
}

// Where the area of `type` (or of the row it shares) starts in its pool:
// the units of the areas of the same unit before it in the table.
constexpr int imageOffsetOf(RegisterType type)
{
    const RegisterType owner = registerTypeInfo(type).imageArea;
    int offset = 0;
    for (int i = 0; i < static_cast<int>(owner); ++i) {
        if (imageUnitOf(static_cast<RegisterType>(i)) == imageUnitOf(owner))
            offset += registerTypeInfo(static_cast<RegisterType>(i)).imageUnits;
    }
    return offset;
}

// Units of the area of `type` (or of the row it shares).
constexpr int imageUnitsOf(RegisterType type)
{
    return registerTypeInfo(registerTypeInfo(type).imageArea).imageUnits;
}

// Units of all areas made of `unit`.
constexpr int imagePoolUnits(ElementKind unit)
{
    int units = 0;
    for (int i = 0; i < RegisterTypeCount; ++i) {
        if (imageUnitOf(static_cast<RegisterType>(i)) == unit)
            units += registerTypeInfo(static_cast<RegisterType>(i)).imageUnits;
    }
    return units;
}

struct RegisterImage {
    quint8 bits[imagePoolUnits(ElementKind::Bit)] = {};           // X Y M SM S T C
    quint16 words[imagePoolUnits(ElementKind::Word)] = {};        // D SD TV CV
    quint32 doubleWords[imagePoolUnits(ElementKind::DoubleWord)] = {}; // 32CV
};
