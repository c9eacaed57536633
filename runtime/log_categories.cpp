#include "log_categories.h"

Q_LOGGING_CATEGORY(hostLog, "tavrin.host", QtInfoMsg)
Q_LOGGING_CATEGORY(framesLog, "tavrin.frames", QtInfoMsg)

void enableHostDiagnostics(bool verbose, bool trace)
{
    QString rules;
    if (verbose || trace)
        rules += QStringLiteral("tavrin.host.debug=true\n");
    if (trace)
        rules += QStringLiteral("tavrin.frames.debug=true\n");
    if (!rules.isEmpty())
        QLoggingCategory::setFilterRules(rules);
}
