#pragma once

// The line's figures as the demo's summary and --stats print them: frames,
// characters each way, retries, give-ups, line utilisation.

#include "line_statistics.h"
#include "poll_schedule.h"

#include <QStringList>

struct WriteTally {
    int confirmed = 0;
    int failed = 0;
};

// The share of the elapsed time the line was busy: its characters at the
// configured baud rate (10 bits each) over the time, at most 1. A link that
// carries characters faster than that rate (a device server on a fast
// network) would give more than the whole time: `faster` says so then.
double lineBusyShare(const LineStatistics& stats, bool* faster = nullptr);

// "Summary after 5.0 s at 9600 baud (7E1):" and a line per figure; the
// writes line only when `writes` is given.
QStringList statisticsLines(const LineStatistics& stats, qint32 baud, const WriteTally* writes = nullptr);

// A line per poll class: "  every 200ms: 1 block, 310 passes, one each 0.201 s".
QStringList pollClassLines(const QVector<PollClassFigures>& classes);
