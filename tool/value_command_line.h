#pragma once

// The command line that read, watch and write share: variables after the
// command, --format for those that name no format of their own, the line
// options, the diagnostics, and for read and watch the output style
// (--json, --csv) and --stats.

#include "line_settings.h"
#include "value_report.h"
#include "value_variable.h"

#include <QCommandLineParser>
#include <QStringList>

#include <functional>

struct ValueCommandLine {
    FormatChoice format;
    LineSettings settings;
    QStringList texts;
    OutputStyle style = OutputStyle::Text;
    bool stats = false;
};

enum class ValueOutput { None, Styles };

// Adds the shared options to `parser`, parses `arguments`, switches the
// diagnostics on and fills `commandLine`; then runs `ownOptions` (when
// given) on the command's own options, and requires a positional text
// (`noTextsMessage` otherwise). Returns -1 to go on, or the exit code as
// parseCommandLine does, ExitUsage after a usage message.
int parseValueCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments,
                          ValueOutput output, const QString& noTextsMessage, ValueCommandLine* commandLine,
                          const std::function<bool(const QCommandLineParser&, QString*)>& ownOptions = {});

// Every text as a variable; false with the first text's message.
bool planVariables(const QStringList& texts, FormatChoice format, QList<ValueVariable>* variables, QString* error);
