#pragma once

// The line's figures as the demo's summary and --stats print them: frames,
// characters each way, retries, give-ups, line utilisation.

#include "line_statistics.h"

#include <QStringList>

struct WriteTally {
    int confirmed = 0;
    int failed = 0;
};

// "Summary after 5.0 s at 9600 baud (7E1):" and a line per figure; the
// writes line only when `writes` is given.
QStringList statisticsLines(const LineStatistics& stats, qint32 baud, const WriteTally* writes = nullptr);
