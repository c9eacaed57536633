// tavrin read ADDR[:COUNT]...: one-shot reads, printed once.

#include "command_support.h"
#include "commands.h"

namespace {
const QString kCommand = QStringLiteral("read");
} // namespace

int runReadCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads each variable once from the PLC and prints its values.\n"
                       "ADDR is a register and address such as D100, X17 (octal), D10.3, M8000, 32CV200; "
                       ":COUNT reads COUNT values of the format from there.\n"
                       "Example: tavrin read D100:4 --format float --port /dev/ttyUSB0"));
    parser.addPositionalArgument(QStringLiteral("read"), QStringLiteral("The command."), QStringLiteral("read"));
    parser.addPositionalArgument(QStringLiteral("ADDR[:COUNT]"), QStringLiteral("Variables to read."),
                                 QStringLiteral("ADDR[:COUNT]..."));
    ValueCommandLine commandLine;
    const int parsed = parseValueCommandLine(parser, kCommand, arguments,
                                             QStringLiteral("no variable given: expected ADDR[:COUNT]..."),
                                             &commandLine);
    if (parsed >= 0)
        return parsed;

    QString error;
    QList<ValueVariable> variables;
    for (const QString& text : commandLine.texts) {
        ValueVariable variable;
        if (!parseValueVariable(text, commandLine.format, commandLine.formatGiven, true, &variable, &error))
            return usageError(kCommand, error);
        variables.append(variable);
    }

    auto runtime = startRuntime(commandLine.settings, nullptr, false, &error);
    if (!runtime)
        return failure(kCommand, error);
    QList<QVector<RequestId>> requests;
    for (const ValueVariable& variable : variables)
        requests.append(runtime->readOnce(variable.address));

    int exitCode = ExitOk;
    QTextStream& out = standardOutput();
    for (int i = 0; i < variables.size(); ++i) {
        const ValueVariable& variable = variables.at(i);
        QString error;
        for (const RequestId id : requests.at(i)) {
            // Every request waits behind the ones queued before it.
            const RequestOutcome outcome = runtime->wait(id, runtime->giveUpBudgetMs() * (requests.size() + 1) + 2000);
            if (!outcome.finished)
                error = QStringLiteral("no completion notice in time");
            else if (!outcome.good)
                error = outcome.error;
        }
        if (!error.isEmpty()) {
            standardError() << "tavrin read: " << variable.address.text << ": " << error << "\n" << Qt::flush;
            exitCode = ExitFailed;
            continue;
        }
        for (const QString& line : variable.valueLines(runtime->values(variable.address)))
            out << line << "\n";
    }
    out << Qt::flush;
    runtime->stop();
    reportLateReplies(*runtime, kCommand);
    return exitCode;
}
