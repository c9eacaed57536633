#pragma once

// The fuzz targets' own view of the image areas, written from the image
// layout (bit areas in one byte pool, word areas in one word pool, the
// 32-bit counters in a third, each pool in register-table order; D shared
// by "D" and "D_bit"), so that a check can say "nothing outside this area
// changed". An out-of-area write inside the image lands in the neighbouring
// area, which AddressSanitizer cannot see; these checks can.

#include "image/register_image.h"

#include <QString>

#include <cstring>
#include <initializer_list>

struct AreaSpan {
    const quint8* begin = nullptr;
    size_t size = 0; // bytes
};

inline AreaSpan areaSpan(const RegisterImage& image, const QString& name)
{
    struct Area {
        const char* name;
        int pool; // 0 bits, 1 words, 2 double words
        size_t offset, units;
    };
    static const Area areas[] = {
        {"X", 0, 0, 33},      {"Y", 0, 33, 33},     {"M", 0, 66, 1000},  {"SM", 0, 1066, 40},
        {"S", 0, 1106, 150},  {"T", 0, 1256, 40},   {"C", 0, 1296, 40},  {"D", 1, 0, 8000},
        {"D_bit", 1, 0, 8000}, {"SD", 1, 8000, 256}, {"TV", 1, 8256, 256}, {"CV", 1, 8512, 200},
        {"32CV", 2, 0, 56},
    };
    for (const Area& area : areas) {
        if (name != QLatin1String(area.name))
            continue;
        if (area.pool == 0)
            return {image.bits + area.offset, area.units};
        if (area.pool == 1)
            return {reinterpret_cast<const quint8*>(image.words + area.offset), 2 * area.units};
        return {reinterpret_cast<const quint8*>(image.doubleWords + area.offset), 4 * area.units};
    }
    return {};
}

// True when `after` differs from `before` only inside the areas of the
// given names (an empty name list: nothing may differ).
inline bool changedOnlyIn(const RegisterImage& before, const RegisterImage& after,
                          std::initializer_list<QString> names)
{
    const auto* b = reinterpret_cast<const quint8*>(&before);
    const auto* a = reinterpret_cast<const quint8*>(&after);
    if (std::memcmp(a, b, sizeof(RegisterImage)) == 0)
        return true;
    // Blank out the allowed areas in copies, then compare the rest.
    RegisterImage beforeRest = before;
    RegisterImage afterRest = after;
    for (const QString& name : names) {
        const AreaSpan span = areaSpan(after, name);
        if (!span.begin)
            continue;
        const size_t offset = static_cast<size_t>(span.begin - a);
        std::memset(reinterpret_cast<quint8*>(&beforeRest) + offset, 0, span.size);
        std::memset(reinterpret_cast<quint8*>(&afterRest) + offset, 0, span.size);
    }
    return std::memcmp(&beforeRest, &afterRest, sizeof(RegisterImage)) == 0;
}
