#pragma once

// What the gateway tells its operator: lines and the broker coming and going,
// writes refused or failed. Info and above are shown; a service's log, not a
// trace (the host's --verbose and --trace add theirs).

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(gatewayLog) // "tavrin.gateway"

// One line to the category. Functions rather than qCInfo(gatewayLog), whose
// empty variadic part clang's -Wpedantic reports.
void logInfo(const QString& text);
void logWarning(const QString& text);
