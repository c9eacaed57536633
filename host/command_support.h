#pragma once

// What the subcommands share: their option parsing, the line options, the
// value format option, output streams, interrupt handling and the runtime.

#include "host_runtime.h"
#include "line_settings.h"
#include "value_format.h"

#include <QCommandLineParser>
#include <QStringList>
#include <QTextStream>

#include <functional>
#include <memory>

class VirtualPlc;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;  // the PLC or the line failed the operation
constexpr int ExitUsage = 2;   // the command line was wrong

QTextStream& standardOutput();
QTextStream& standardError();

// Parses `arguments` ("tavrin", the command, its arguments). Returns -1 to
// go on, or the exit code: after --help (help printed, 0) or a bad option
// (the parser's message and a pointer to --help, ExitUsage).
int parseCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments);

// Prints "tavrin COMMAND: message" and a pointer to the command's help; returns ExitUsage.
int usageError(const QString& command, const QString& message);
// Prints "tavrin COMMAND: message"; returns ExitFailed.
int failure(const QString& command, const QString& message);

// --port, --baud, --timeout-ms, --retries, --block-size, --station, --no-probe.
void addLineOptions(QCommandLineParser& parser);
bool lineSettingsFromOptions(const QCommandLineParser& parser, LineSettings* settings, QString* error);

// --trace and --verbose; switched on by applyDiagnosticOptions.
void addDiagnosticOptions(QCommandLineParser& parser);
void applyDiagnosticOptions(const QCommandLineParser& parser);

// --format FMT. `given` tells whether the user chose one.
void addFormatOption(QCommandLineParser& parser);
bool formatFromOption(const QCommandLineParser& parser, ValueFormat* format, bool* given, QString* error);

// What read, write and watch take from their command line besides their own
// options: the value format, the line and the positional texts after the command.
struct ValueCommandLine {
    ValueFormat format = ValueFormat::Int16;
    bool formatGiven = false;
    LineSettings settings;
    QStringList texts;
};

// Adds --format, the line and the diagnostic options to `parser`, parses
// `arguments`, switches the diagnostics on and fills `commandLine`; then runs
// `ownOptions` (when given) on the command's own options, and requires a
// positional text (`noTextsMessage` otherwise). Returns -1 to go on, or the
// exit code as parseCommandLine does, ExitUsage after a usage message.
int parseValueCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments,
                          const QString& noTextsMessage, ValueCommandLine* commandLine,
                          const std::function<bool(const QCommandLineParser&, QString*)>& ownOptions = {});

// A whole number from an option or argument, within [low, high].
bool parseBoundedInt(const QString& text, int low, int high, int* value);

// Starts a runtime on the settings' line; `plc` serves when the port is the
// built-in virtual PLC (a fresh one when null).
std::unique_ptr<HostRuntime> startRuntime(const LineSettings& settings, std::shared_ptr<VirtualPlc> plc,
                                          bool paced, QString* error);

// Prints "tavrin COMMAND: " and the runtime's note on replies that came after
// their timeout, if any came: the PLC may need a larger --timeout-ms.
void reportLateReplies(HostRuntime& runtime, const QString& command);

// Ctrl-C and SIGTERM set a flag instead of killing the process, so that a
// command can finish its exchange and print its summary.
void installInterruptHandler();
bool interrupted();

// A variable with the format and number of values it is read or written in.
struct ValueVariable {
    VariableAddress address;
    ValueFormat format = ValueFormat::Int16;
    int values = 1;

    // "D100 = 5" for each value in `bytes` (the module's value bytes).
    QStringList valueLines(const QByteArray& bytes) const;
    // The values' texts only: "5", "6".
    QStringList valueTexts(const QByteArray& bytes) const;
};

// "ADDR" or "ADDR:COUNT" (COUNT values of the format). Without a chosen
// format the register's default applies. False with a message.
bool parseValueVariable(const QString& text, ValueFormat format, bool formatGiven, bool allowCount,
                        ValueVariable* variable, QString* error);
