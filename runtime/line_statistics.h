#pragma once

#include <QtGlobal>

// What the runtime counted on its line since it started.
struct LineStatistics {
    qint64 framesSent = 0;    // the module's requests put on the line, resends included
    qint64 bytesSent = 0;
    qint64 bytesReceived = 0;
    qint64 goodReplies = 0;
    qint64 retries = 0;       // failed replies the module resent
    qint64 giveUps = 0;       // requests given up after their retries
    qint32 lastGiveUpCode = 0;
    qint64 lateReplies = 0;   // answers proven to come after their timeout
    qint64 probes = 0;        // reads sent to bring the line back in step after a failed reply
    qint64 lineLosses = 0;    // times the line failed (a connection closed, an adapter gone)
    qint64 reconnects = 0;    // times it was reopened
    qint64 turnaroundUs = 0;  // an exchange's time beyond its characters, smoothed: the PLC's answer
                              // delay and the line's latency
    qint64 plans = 0;         // read plans applied: the first, then re-plans and refused blocks split
    qint64 elapsedMs = 0;     // since the line opened
    qint64 wireTimeUs = 0;    // the characters each way at the line's baud rate

    // Share of the elapsed time the line carried characters (0 to 1; 0 when
    // the baud rate or the time is unknown).
    double utilisation() const
    {
        if (elapsedMs <= 0 || wireTimeUs <= 0)
            return 0.0;
        return static_cast<double>(wireTimeUs) / (static_cast<double>(elapsedMs) * 1000.0);
    }
};
