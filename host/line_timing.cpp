#include "line_timing.h"

#include <algorithm>
#include <limits>

namespace LineTiming {

namespace {
// Keeps products inside 64 bits whatever a caller passes.
constexpr qint64 MaxCharacters = qint64(1) << 40;
} // namespace

qint64 wireTimeUs(qint64 characters, qint64 baud)
{
    if (baud <= 0 || characters <= 0)
        return 0;
    return std::min(characters, MaxCharacters) * BitsPerCharacter * 1000000 / baud;
}

int replyTimeoutMs(qint64 sentCharacters, qint64 replyCharacters, qint64 baud,
                   int answerAllowanceMs)
{
    const qint64 characters = std::max<qint64>(sentCharacters, 0) + std::max<qint64>(replyCharacters, 0);
    const qint64 wireMs = (wireTimeUs(characters, baud) + 999) / 1000;
    const qint64 total = wireMs + std::max(answerAllowanceMs, 0);
    return static_cast<int>(std::min<qint64>(total, std::numeric_limits<int>::max()));
}

} // namespace LineTiming
