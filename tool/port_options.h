#pragma once

// The options that choose and tune the line to the PLC (--port, --baud,
// --timeout-ms, --retries, --block-size, --station, --no-probe), the
// diagnostics (--trace, --verbose), and starting a runtime on them.

#include "host_runtime.h"
#include "line_settings.h"

#include <QCommandLineParser>

#include <memory>

class VirtualPlc;

void addLineOptions(QCommandLineParser& parser);
bool lineSettingsFromOptions(const QCommandLineParser& parser, LineSettings* settings, QString* error);

void addDiagnosticOptions(QCommandLineParser& parser);
void applyDiagnosticOptions(const QCommandLineParser& parser);

// Starts a runtime on the settings' line; `plc` serves when the port is the
// built-in virtual PLC (a fresh one when null).
std::unique_ptr<HostRuntime> startRuntime(const LineSettings& settings, std::shared_ptr<VirtualPlc> plc,
                                          bool paced, QString* error);

// Prints "tavrin COMMAND: " and the runtime's note on replies that came after
// their timeout, if any came: the PLC may need a larger --timeout-ms.
void reportLateReplies(HostRuntime& runtime, const QString& command);
