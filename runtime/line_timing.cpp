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

int replyTimeoutMs(qint64 sentCharacters, qint64 replyCharacters, qint64 baud,
                   int answerAllowanceMs)
{
    const qint64 characters = clampCharacters(sentCharacters) + clampCharacters(replyCharacters);
    const qint64 wireMs = (wireTimeUs(characters, baud) + 999) / 1000;
    const qint64 total = wireMs + std::max(answerAllowanceMs, 0);
    return static_cast<int>(std::min<qint64>(total, std::numeric_limits<int>::max()));
}

int quietPeriodMs(qint64 baud, int answerAllowanceMs)
{
    return replyTimeoutMs(0, LongestReplyCharacters, baud, answerAllowanceMs);
}

} // namespace LineTiming
