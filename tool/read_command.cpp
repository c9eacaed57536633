// tavrin read ADDR[@FORMAT][:COUNT]...: one-shot reads, printed once.

#include "read_command.h"

#include "command_line.h"
#include "commands.h"
#include "port_options.h"
#include "statistics_report.h"
#include "value_command_line.h"

namespace {
const QString kCommand = QStringLiteral("read");
} // namespace

QVector<VariableReport> readOnce(HostRuntime& runtime, const QList<ValueVariable>& variables)
{
    QList<VariableAddress> addresses;
    for (const ValueVariable& variable : variables)
        addresses.append(variable.address);
    // Every block may take its whole budget; there are never more blocks than variables.
    const int waitMs = runtime.giveUpBudgetMs() * (static_cast<int>(addresses.size()) + 1) + 2000;
    const QVector<VariableQuality> qualities = runtime.readPass(addresses, waitMs);
    QVector<VariableReport> reports;
    for (int i = 0; i < variables.size(); ++i) {
        VariableReport report;
        report.variable = variables.at(i);
        if (qualities.at(i).quality == Quality::Good)
            report.bytes = runtime.values(report.variable.address);
        else if (qualities.at(i).quality == Quality::Bad)
            report.error = qualities.at(i).error;
        else
            report.error = QStringLiteral("not read in time");
        reports.append(report);
    }
    return reports;
}

int printReadReports(const QVector<VariableReport>& reports, OutputStyle style, QTextStream& out, QTextStream& err)
{
    int exitCode = ExitOk;
    if (style == OutputStyle::Csv)
        out << csvHeader(false) << "\n";
    for (const VariableReport& report : reports) {
        if (!report.good())
            exitCode = ExitFailed;
        if (style == OutputStyle::Json)
            out << jsonLine(report) << "\n";
        else if (style == OutputStyle::Csv)
            out << csvRow(report) << "\n";
        else if (report.good())
            out << textLines(report).join(QLatin1Char('\n')) << "\n";
        else
            err << "tavrin read: " << report.variable.address.text << ": " << report.error << "\n";
    }
    out << Qt::flush;
    err << Qt::flush;
    return exitCode;
}

int runReadCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads each variable once from the PLC and prints its values.\n"
                       "ADDR is a register and address such as D100, X17 (octal), D10.3, M8000, 32CV200; "
                       ":COUNT reads COUNT values of the format from there; @FORMAT gives the variable a "
                       "format of its own.\n"
                       "Example: tavrin read D100:4@float M0:8 D0@hex --port /dev/ttyUSB0"));
    parser.addPositionalArgument(QStringLiteral("read"), QStringLiteral("The command."), QStringLiteral("read"));
    parser.addPositionalArgument(QStringLiteral("ADDR[@FORMAT][:COUNT]"), QStringLiteral("Variables to read."),
                                 QStringLiteral("ADDR[@FORMAT][:COUNT]..."));
    ValueCommandLine commandLine;
    const int parsed = parseValueCommandLine(parser, kCommand, arguments, ValueOutput::Styles,
                                             QStringLiteral("no variable given: expected ADDR[@FORMAT][:COUNT]..."),
                                             &commandLine);
    if (parsed >= 0)
        return parsed;
    QString error;
    QList<ValueVariable> variables;
    if (!planVariables(commandLine.texts, commandLine.format, &variables, &error))
        return usageError(kCommand, error);

    auto runtime = startRuntime(commandLine.settings, nullptr, false, &error);
    if (!runtime)
        return failure(kCommand, error);
    const QVector<VariableReport> reports = readOnce(*runtime, variables);
    runtime->stop();
    const int exitCode = printReadReports(reports, commandLine.style, standardOutput(), standardError());
    reportLateReplies(*runtime, kCommand);
    if (commandLine.stats)
        standardError() << statisticsLines(runtime->statistics(), commandLine.settings.baud).join(QLatin1Char('\n'))
                        << "\n" << Qt::flush;
    return exitCode;
}
