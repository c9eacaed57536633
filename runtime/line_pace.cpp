#include "line_pace.h"

#include "line_timing.h"

#include <algorithm>

LinePace::LinePace(qint64 baud, int allowanceMs, bool learn)
    : baud_(baud)
    , baseAllowanceMs_(std::clamp(allowanceMs, 0, MaxAllowanceMs))
    , learn_(learn)
{
}

int LinePace::allowanceMs() const
{
    if (!learn_)
        return baseAllowanceMs_;
    // Half as much again as the slowest recent answer, and 20 ms for the
    // jitter of a scan: 600 ms answers give 920 ms.
    const qint64 learnedMs = (slowestUs_ * 3 / 2 + 999) / 1000 + 20;
    return static_cast<int>(std::clamp<qint64>(learnedMs, baseAllowanceMs_, MaxAllowanceMs));
}

qint64 LinePace::timeoutUs(int requestCharacters, int replyCharacters) const
{
    return LineTiming::wireTimeUs(qint64(requestCharacters) + replyCharacters, baud_) + qint64(allowanceMs()) * 1000;
}

void LinePace::answered(qint64 answerUs, int requestCharacters, int replyCharacters)
{
    const qint64 delayUs
        = std::max<qint64>(0, answerUs - LineTiming::wireTimeUs(qint64(requestCharacters) + replyCharacters, baud_));
    turnaroundUs_ = turnaroundUs_ < 0 ? delayUs : turnaroundUs_ + (delayUs - turnaroundUs_) / 8;
    // Up at once, down by a sixty-fourth of the gap per answer: one fast
    // answer after a slow spell does not shrink the allowance under the PLC.
    slowestUs_ = delayUs >= slowestUs_ ? delayUs : slowestUs_ - (slowestUs_ - delayUs) / 64;
}
