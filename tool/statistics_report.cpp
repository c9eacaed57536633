#include "statistics_report.h"

QStringList statisticsLines(const LineStatistics& stats, qint32 baud, const WriteTally* writes)
{
    const double seconds = stats.elapsedMs / 1000.0;
    QStringList lines;
    lines << QStringLiteral("Summary after %1 s at %2 baud (7E1):").arg(seconds, 0, 'f', 1).arg(baud)
          << QStringLiteral("  frames          %1 (%2 per second)")
                 .arg(stats.framesSent)
                 .arg(seconds > 0 ? stats.framesSent / seconds : 0.0, 0, 'f', 1)
          << QStringLiteral("  bytes sent      %1").arg(stats.bytesSent)
          << QStringLiteral("  bytes received  %1").arg(stats.bytesReceived)
          << QStringLiteral("  retries         %1").arg(stats.retries)
          << QStringLiteral("  give-ups        %1").arg(stats.giveUps)
          << QStringLiteral("  probes          %1 (reads that put the line back in step)").arg(stats.probes);
    if (writes)
        lines << QStringLiteral("  writes          %1 confirmed, %2 failed").arg(writes->confirmed).arg(writes->failed);
    lines << QStringLiteral("  line busy       %1 % of the time (characters on the wire / elapsed time)")
                 .arg(100.0 * stats.utilisation(), 0, 'f', 1);
    return lines;
}
