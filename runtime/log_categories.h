#pragma once

// Diagnostics of the host and the tool. Both categories are quiet unless
// --verbose (tavrin.host) or --trace (tavrin.frames, tavrin.host) turn them on.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(hostLog)   // "tavrin.host": line, probe, give-ups
Q_DECLARE_LOGGING_CATEGORY(framesLog) // "tavrin.frames": every frame each way

// Switches the categories' debug output on (they start with info and above only).
void enableHostDiagnostics(bool verbose, bool trace);

// Debug output to a category, its arguments evaluated only when it is on.
// Qt's qCDebug(category) leaves its variadic part empty, which clang's
// -Wpedantic reports; this does the same without that.
#define TAVRIN_DEBUG(category)                                                                     \
    for (bool tavrinDebugOn = category().isDebugEnabled(); tavrinDebugOn; tavrinDebugOn = false)  \
    QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, QT_MESSAGELOG_FUNC, category().categoryName()).debug()
