#include "line_timing.h"

#include <algorithm>
#include <limits>

namespace LineTiming {

namespace {
// Keeps products inside 64 bits whatever a caller passes: 2^32 characters
// x 10 bits x 10^6 us is about 4.3e16, far below 2^63 (9.2e18).
constexpr qint64 MaxCharacters = qint64(1) << 32;

qint64 clampCharacters(qint64 characters)
{
    return std::clamp<qint64>(characters, 0, MaxCharacters);
}
} // namespace

qint64 wireTimeUs(qint64 characters, qint64 baud)
{
    if (baud <= 0 || characters <= 0)
        return 0;
    return clampCharacters(characters) * BitsPerCharacter * 1000000 / baud;
}

} // namespace LineTiming
