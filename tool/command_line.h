#pragma once

// The tool's command-line plumbing that every command shares: exit codes,
// the output streams (whose failures the tool reports), parsing with
// --help, and the messages for a wrong command line or a failed operation.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QTextStream>

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;  // the PLC, the line or the output failed the operation
constexpr int ExitUsage = 2;   // the command line was wrong

QTextStream& standardOutput();
QTextStream& standardError();
// True once writing to standard output failed (a closed pipe, a full disk).
bool outputFailed();
// The same for standard error, whoever wrote to it (the tool, Qt's log).
bool errorOutputFailed();

// Parses `arguments` ("tavrin", the command, its arguments). Returns -1 to
// go on, or the exit code: after --help (help printed, 0) or a bad option
// (the parser's message and a pointer to --help, ExitUsage).
int parseCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments);

// Prints "tavrin COMMAND: message" and a pointer to the command's help; returns ExitUsage.
int usageError(const QString& command, const QString& message);
// Prints "tavrin COMMAND: message"; returns ExitFailed.
int failure(const QString& command, const QString& message);

// A whole number within [low, high], decimal.
bool parseBoundedInt(const QString& text, int low, int high, int* value);
// The same for an option, with the message that names it and its range:
// --retries "x": expected a whole number from 0 to 100
bool boundedOption(const QCommandLineParser& parser, const QString& option, int low, int high, int* value,
                   QString* error);
