#include "statistics_report.h"

#include "poll_period.h"

#include <algorithm>

double lineBusyShare(const LineStatistics& stats, bool* faster)
{
    const double share = stats.utilisation();
    if (faster)
        *faster = share > 1.0;
    return std::min(share, 1.0);
}

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
    bool faster = false;
    const double busy = lineBusyShare(stats, &faster);
    if (faster)
        lines << QStringLiteral("  line busy       100 % of the time at %1 baud: its characters take %2 s at %1 baud, "
                                "more than the %3 s elapsed, so the link runs faster than %1 baud")
                     .arg(baud)
                     .arg(stats.wireTimeUs / 1e6, 0, 'f', 1)
                     .arg(seconds, 0, 'f', 1);
    else
        lines << QStringLiteral("  line busy       %1 % of the time at %2 baud (its characters at that rate over the "
                                "elapsed time)")
                     .arg(100.0 * busy, 0, 'f', 1)
                     .arg(baud);
    return lines;
}

QStringList pollClassLines(const QVector<PollClassFigures>& classes)
{
    QStringList lines;
    for (const PollClassFigures& c : classes) {
        QString line = QStringLiteral("  %1: %2 block%3, %4 passes")
                           .arg(c.periodUs > 0 ? QStringLiteral("every ") + pollPeriodText(int(c.periodUs / 1000))
                                               : QStringLiteral("as fast as the line allows"))
                           .arg(c.blocks)
                           .arg(c.blocks == 1 ? QString() : QStringLiteral("s"))
                           .arg(c.passes);
        if (c.achievedPeriodUs > 0)
            line += QStringLiteral(", one each %1 s").arg(double(c.achievedPeriodUs) / 1e6, 0, 'f', 3);
        if (c.stretchedPeriodUs > c.periodUs)
            line += QStringLiteral(" (scheduled every %1 s: the line cannot carry more)")
                        .arg(double(c.stretchedPeriodUs) / 1e6, 0, 'f', 3);
        lines << line;
    }
    return lines;
}
