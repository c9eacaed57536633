#include "in_process_line.h"

InProcessLine::InProcessLine(VirtualPlc& plc, const LinePacing& pacing)
    : plc_(plc), pacing_(pacing)
{
}

InProcessExchange InProcessLine::exchange(const QByteArray& request)
{
    InProcessExchange result;
    // Every request byte crosses the line once, whether or not it completes a frame.
    result.lineTimeNs = pacing_.transmitTimeNs(request.size());
    for (const PlcReply& reply : plc_.receiveReplies(request)) {
        result.reply += reply.bytes;
        result.lineTimeNs += pacing_.exchangeTimeNs(0, reply.bytes.size(), reply.extraDelayUs);
    }
    totalLineTimeNs_ += result.lineTimeNs;
    return result;
}
