#include "line_pacing.h"

namespace {

// Keeps products inside 64 bits: 1e8 characters x 1e10 is below 2^63.
constexpr qint64 MaxCharacters = 100000000;

qint64 clampCharacters(qint64 n)
{
    return qBound<qint64>(0, n, MaxCharacters);
}

qint64 microsToNanos(qint64 us)
{
    // Negative delays count as none; a day caps absurd values.
    return qBound<qint64>(0, us, qint64(86400) * 1000000) * 1000;
}

} // namespace

qint64 LinePacing::transmitTimeNs(qint64 characters) const
{
    if (baudRate <= 0)
        return 0;
    const qint64 bitNanos = clampCharacters(characters) * BitsPerCharacter * 1000000000LL;
    return (bitNanos + baudRate / 2) / baudRate;
}

qint64 LinePacing::exchangeTimeNs(qint64 requestCharacters, qint64 replyCharacters,
                                  qint64 extraDelayUs) const
{
    return transmitTimeNs(requestCharacters) + microsToNanos(responseDelayUs)
           + microsToNanos(extraDelayUs) + transmitTimeNs(replyCharacters);
}
