#include "line_discipline.h"

#include "line_timing.h"

#include <algorithm>

namespace {
// However late the PLC has been, a quiet wait grows by this much at most.
constexpr int MaxExtraQuietMs = 10000;
// A line that never goes quiet (a babbling device) ends the wait after this
// many quiet periods; the next reply then fails on its own.
constexpr int QuietWaitLimit = 3;
} // namespace

LineDiscipline::LineDiscipline(qint64 baud, int answerAllowanceMs)
    : baud_(baud)
    , answerAllowanceMs_(answerAllowanceMs)
    , baseQuietMs_(LineTiming::quietPeriodMs(baud, answerAllowanceMs))
{
}

int LineDiscipline::timeoutMs(int requestLength, int replyLength) const
{
    return LineTiming::replyTimeoutMs(requestLength, replyLength, baud_, answerAllowanceMs_);
}

LineDiscipline::Exchange LineDiscipline::exchange(Line& line, const QByteArray& request, int replyLength)
{
    Exchange result;
    result.timeoutMs = timeoutMs(static_cast<int>(request.size()), replyLength);
    result.stale = line.discardInput();
    // Bytes that came after the last quiet wait: a reply later than the
    // quiet period allows. Wait longer from now on.
    if (!result.stale.isEmpty())
        lengthenQuiet(std::max(2 * extraQuietMs_, baseQuietMs_));
    result.sent = line.send(request);
    sinceSend_.start();
    lastTimeoutMs_ = result.timeoutMs;
    if (result.sent)
        result.reply = line.collect(replyLength, result.timeoutMs);
    return result;
}

QByteArray LineDiscipline::settle(Line& line)
{
    const int quietMs = quietPeriodMs();
    const QByteArray late = line.drainUntilQuiet(quietMs, QuietWaitLimit * quietMs);
    if (!late.isEmpty() && sinceSend_.isValid()) {
        // The wait ended a quiet period after the last late byte came.
        const int answerMs = static_cast<int>(sinceSend_.elapsed()) - quietMs;
        if (answerMs > lateAnswerMs_) {
            lateAnswerMs_ = answerMs;
            lateTimeoutMs_ = lastTimeoutMs_;
        }
        lengthenQuiet(answerMs - lastTimeoutMs_);
    }
    return late;
}

void LineDiscipline::lengthenQuiet(int extraMs)
{
    extraQuietMs_ = std::clamp(std::max(extraQuietMs_, extraMs), 0, MaxExtraQuietMs);
}
