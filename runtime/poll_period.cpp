#include "poll_period.h"

#include <cmath>

bool parsePollPeriod(const QString& text, int* ms, QString* error)
{
    const QString trimmed = text.trimmed().toLower();
    const bool inMs = trimmed.endsWith(QLatin1String("ms"));
    const bool inS = !inMs && trimmed.endsWith(QLatin1Char('s'));
    bool ok = false;
    const double number = (inMs || inS) ? trimmed.left(trimmed.size() - (inMs ? 2 : 1)).trimmed().toDouble(&ok) : 0;
    const double value = inMs ? number : number * 1000;
    if (!ok || !std::isfinite(value) || value < MinPollPeriodMs || value > MaxPollPeriodMs
        || value != std::floor(value)) {
        *error = QStringLiteral("\"%1\": expected a period such as 200ms or 10s: a whole number of milliseconds "
                                "from %2ms to %3s, with ms or s")
                     .arg(text)
                     .arg(MinPollPeriodMs)
                     .arg(MaxPollPeriodMs / 1000);
        return false;
    }
    *ms = static_cast<int>(value);
    return true;
}

QString pollPeriodText(int ms)
{
    if (ms % 1000 == 0)
        return QStringLiteral("%1s").arg(ms / 1000);
    if (ms >= 1000 && ms % 100 == 0)
        return QStringLiteral("%1s").arg(ms / 1000.0, 0, 'f', 1);
    return QStringLiteral("%1ms").arg(ms);
}
