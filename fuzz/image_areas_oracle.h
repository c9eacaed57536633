#pragma once

// The fuzz targets' own view of the image areas, written from the image
// layout (one area per register type, D shared by "D" and "D_bit"), so that
// a check can say "nothing outside this area changed". An out-of-area
// write inside the driver object lands in the neighbouring area, which
// AddressSanitizer cannot see; these checks can.

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
    auto span = [](const auto& area) {
        return AreaSpan{reinterpret_cast<const quint8*>(area), sizeof area};
    };
    if (name == QLatin1String("X")) return span(image.X);
    if (name == QLatin1String("Y")) return span(image.Y);
    if (name == QLatin1String("M")) return span(image.M);
    if (name == QLatin1String("SM")) return span(image.SM);
    if (name == QLatin1String("S")) return span(image.S);
    if (name == QLatin1String("T")) return span(image.T);
    if (name == QLatin1String("C")) return span(image.C);
    if (name == QLatin1String("D") || name == QLatin1String("D_bit")) return span(image.D);
    if (name == QLatin1String("SD")) return span(image.SD);
    if (name == QLatin1String("TV")) return span(image.TV);
    if (name == QLatin1String("CV")) return span(image.CV);
    if (name == QLatin1String("32CV")) return span(image.CV32);
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
