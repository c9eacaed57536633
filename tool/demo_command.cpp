// tavrin demo: the built-in virtual PLC with its scan program, polled through
// the module, shown as a live table, then the line's statistics.

#include "command_line.h"
#include "commands.h"
#include "interrupts.h"
#include "port_options.h"
#include "statistics_report.h"
#include "value_variable.h"

#include "virtual_plc.h"

#include <QElapsedTimer>
#include <QThread>

#include <unistd.h>

namespace {

const QString kCommand = QStringLiteral("demo");
constexpr int ScanIntervalMs = 20;    // the virtual PLC's program scan
constexpr int RefreshIntervalMs = 100; // the live table
constexpr int WriteIntervalMs = 1000;  // the demo's own writes
// When stdout is not a terminal the table is printed this many times.
constexpr int PlainPrints = 3;

struct DemoRow {
    const char* address;
    const char* format;
    const char* note;
};

// A variable of every register type. M stays below M1536, the last relay
// the programming port reaches from its M bytes.
const DemoRow kRows[] = {
    {"X0:8", "bit", "inputs: the scan walks one ON"},
    {"Y0:8", "bit", "outputs: the demo toggles Y7"},
    {"M0:8", "bit", "auxiliary relays"},
    {"M8000", "bit", "RUN monitor, the PLC's M8000"},
    {"S0:4", "bit", "states"},
    {"T0", "bit", "timer contact: ON from TV0 = 50"},
    {"C0", "bit", "counter contact"},
    {"D0", "uint16", "+1 every scan"},
    {"D10.3", "bit", "bit 3 of D10"},
    {"D200", "int16", "written by the demo every second"},
    {"D300", "float", "written by the demo every second"},
    {"SD8000", "int16", "special data register"},
    {"TV0", "int16", "timer value, 0..99"},
    {"CV0", "int16", "16-bit counter"},
    {"32CV200", "int32", "32-bit counter, +1 every scan"},
};

struct DemoVariable {
    ValueVariable variable;
    QString label;
    QString note;
};

bool buildVariables(QList<DemoVariable>* variables, QString* error)
{
    for (const DemoRow& row : kRows) {
        ValueFormat format = ValueFormat::Bit;
        parseValueFormat(QLatin1String(row.format), &format);
        DemoVariable demo;
        if (!parseValueVariable(QLatin1String(row.address), FormatChoice{format, true}, true, &demo.variable, error))
            return false;
        const VariableAddress& address = demo.variable.address;
        demo.label = address.registerText(0);
        if (demo.variable.values > 1)
            demo.label += QStringLiteral("..") + address.registerText(address.registers - 1);
        demo.note = QLatin1String(row.note);
        variables->append(demo);
    }
    return true;
}

bool allRead(const HostRuntime& runtime, int variables)
{
    for (int i = 0; i < variables; ++i) {
        if (runtime.quality(i).quality != Quality::Good)
            return false;
    }
    return true;
}

QStringList tableLines(const HostRuntime& runtime, const QList<DemoVariable>& variables)
{
    QStringList lines;
    lines << QStringLiteral("  %1 %2 %3").arg(QStringLiteral("Variable"), -14).arg(QStringLiteral("Value"), -18).arg(QStringLiteral("What it is"));
    for (int i = 0; i < variables.size(); ++i) {
        const DemoVariable& demo = variables.at(i);
        // A value is shown only once it has been read: never the image's zeros.
        const VariableQuality quality = runtime.quality(i);
        const QString values = quality.quality == Quality::Good
            ? demo.variable.valueTexts(runtime.values(demo.variable.address)).join(QLatin1Char(' '))
            : quality.quality == Quality::Waiting ? QStringLiteral("(reading)") : QStringLiteral("(bad)");
        lines << QStringLiteral("  %1 %2 %3").arg(demo.label, -14).arg(values, -18).arg(demo.note);
    }
    const LineStatistics stats = runtime.statistics();
    lines << QStringLiteral("  frames %1, retries %2, give-ups %3, line busy %4 %")
                 .arg(stats.framesSent)
                 .arg(stats.retries)
                 .arg(stats.giveUps)
                 .arg(100.0 * lineBusyShare(stats), 0, 'f', 1);
    return lines;
}

void printTable(const QStringList& lines, bool inPlace, bool first)
{
    QTextStream& out = standardOutput();
    if (inPlace && !first)
        out << "\x1b[" << lines.size() << "A"; // back to the table's first line
    for (const QString& line : lines)
        out << (inPlace ? "\x1b[2K" : "") << line << "\n";
    if (!inPlace)
        out << "\n";
    out << Qt::flush;
}

void printSummary(const HostRuntime& runtime, const WriteTally& writes)
{
    standardOutput() << statisticsLines(runtime.statistics(), runtime.settings().baud, &writes).join(QLatin1Char('\n'))
                     << "\n" << Qt::flush;
}

} // namespace

int runDemoCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the built-in virtual PLC with its scan program, polls a variable of every "
                       "register type through the module at the line's real speed, writes two values every "
                       "second, and shows a live table for a few seconds (or until Ctrl-C). Ends with a "
                       "summary: frames, bytes each way, retries, give-ups and line utilisation.\n"
                       "When the output is not a terminal the table is printed three times instead."));
    parser.addPositionalArgument(QStringLiteral("demo"), QStringLiteral("The command."), QStringLiteral("demo"));
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("How long the demo runs. Default: 5."),
                      QStringLiteral("S"), QStringLiteral("5")});
    parser.addOption({QStringLiteral("baud"), QStringLiteral("Baud rate of the virtual line. Default: 9600."),
                      QStringLiteral("RATE"), QStringLiteral("9600")});
    addDiagnosticOptions(parser);
    const int parsed = parseCommandLine(parser, kCommand, arguments);
    if (parsed >= 0)
        return parsed;
    applyDiagnosticOptions(parser);
    if (parser.positionalArguments().size() > 1)
        return usageError(kCommand, QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().at(1)));

    int seconds = 0;
    LineSettings settings;
    QString error;
    if (!boundedOption(parser, QStringLiteral("seconds"), 1, 1000000, &seconds, &error)
        || !boundedOption(parser, QStringLiteral("baud"), 300, 4000000, &settings.baud, &error))
        return usageError(kCommand, error);
    QList<DemoVariable> variables;
    if (!buildVariables(&variables, &error))
        return failure(kCommand, error);

    VirtualPlcOptions options;
    options.scanProgram = true;
    auto plc = std::make_shared<VirtualPlc>(options);
    auto runtime = startRuntime(settings, plc, true, &error);
    if (!runtime)
        return failure(kCommand, error);
    QList<VariableAddress> addresses;
    for (const DemoVariable& demo : variables)
        addresses.append(demo.variable.address);
    runtime->setPolledVariables(addresses);

    const bool inPlace = isatty(STDOUT_FILENO) != 0;
    standardOutput() << "Tavrin demo: the built-in virtual PLC at " << settings.baud
                     << " baud, 7E1, polled through the module" << (inPlace ? " (Ctrl-C stops)" : "") << "\n"
                     << Qt::flush;
    const VariableAddress d200 = variables.at(9).variable.address;
    const VariableAddress d300 = variables.at(10).variable.address;
    VariableAddress y7;
    parseVariableAddress(QStringLiteral("Y7"), 1, &y7, &error);

    QVector<RequestId> pending;
    WriteTally writes;
    qint64 nextScan = 0, nextRefresh = 0, nextWrite = WriteIntervalMs, nextPlain = 0;
    int plainPrinted = 0;
    qint16 tick = 0;
    QElapsedTimer clock;
    clock.start();
    const qint64 endMs = qint64(seconds) * 1000;
    while (!interrupted() && clock.elapsed() < endMs) {
        const qint64 now = clock.elapsed();
        while (nextScan <= now) {
            plc->runScan();
            nextScan += ScanIntervalMs;
        }
        if (now >= nextWrite) {
            ++tick;
            QByteArray count;
            QByteArray half;
            encodeValue(QString::number(tick), ValueFormat::Int16, ElementKind::Word, &count, &error);
            encodeValue(QString::number(tick / 2.0), ValueFormat::Float, ElementKind::Word, &half, &error);
            pending << runtime->queueWrite(d200, count);
            pending << runtime->queueWrite(d300, half);
            pending << runtime->queueWrite(y7, QByteArray(1, static_cast<char>(tick % 2)));
            nextWrite += WriteIntervalMs;
        }
        for (int i = pending.size() - 1; i >= 0; --i) {
            const RequestOutcome outcome = runtime->wait(pending.at(i), 0);
            if (outcome.finished) {
                (outcome.good ? writes.confirmed : writes.failed) += 1;
                pending.remove(i);
            }
        }
        if (inPlace && now >= nextRefresh) {
            printTable(tableLines(*runtime, variables), true, nextRefresh == 0);
            nextRefresh = now + RefreshIntervalMs;
        } else if (!inPlace && now >= nextPlain && plainPrinted < PlainPrints - 1 && allRead(*runtime, variables.size())) {
            printTable(tableLines(*runtime, variables), false, true);
            ++plainPrinted;
            nextPlain = now + endMs / PlainPrints;
        }
        QThread::msleep(5);
    }
    runtime->stop();
    printTable(tableLines(*runtime, variables), inPlace, !inPlace || nextRefresh == 0);
    printSummary(*runtime, writes);
    return ExitOk;
}
