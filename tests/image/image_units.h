#pragma once

// Sets one unit of the area a register name selects (a byte of a bit area, a
// word, a double word): how the image tests write down the image they expect.

#include "image/image_areas.h"

inline void setUnit(RegisterImage& image, const char* reg, int unit, quint32 value)
{
    const ImageArea area = imageAreaOf(image, QString::fromLatin1(reg));
    switch (area.shape) {
    case AreaShape::PackedBits:
        area.bits.units[unit] = static_cast<quint8>(value);
        break;
    case AreaShape::WordBits:
    case AreaShape::Words:
        area.words.units[unit] = static_cast<quint16>(value);
        break;
    case AreaShape::DoubleWords:
        area.doubleWords.units[unit] = value;
        break;
    case AreaShape::None:
        break;
    }
}
