// tavrin watch ADDR...: polls variables and prints each change with a timestamp.

#include "command_support.h"
#include "commands.h"
#include "result_codes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

namespace {

const QString kCommand = QStringLiteral("watch");
// How often the image is looked at; the line itself runs at its own speed.
constexpr int LookIntervalMs = 20;

QString timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

int runWatchCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls the variables without pause and prints their values once the first pass over "
                       "them has ended, then every change, with a timestamp. Runs until Ctrl-C or --seconds.\n"
                       "Example: tavrin watch D0 X0:8 T0 --port tcp:192.168.1.20:4001"));
    parser.addPositionalArgument(QStringLiteral("watch"), QStringLiteral("The command."), QStringLiteral("watch"));
    parser.addPositionalArgument(QStringLiteral("ADDR[:COUNT]"), QStringLiteral("Variables to poll."),
                                 QStringLiteral("ADDR[:COUNT]..."));
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Stop after this many seconds. Default: 0, until Ctrl-C."),
                      QStringLiteral("S"), QStringLiteral("0")});
    // Checked after the line options and before the variables.
    int seconds = 0;
    const auto readSeconds = [&seconds](const QCommandLineParser& options, QString* error) {
        const QString text = options.value(QStringLiteral("seconds"));
        if (parseBoundedInt(text, 0, 1000000, &seconds))
            return true;
        *error = QStringLiteral("--seconds \"%1\": expected a whole number").arg(text);
        return false;
    };
    ValueCommandLine commandLine;
    const int parsed = parseValueCommandLine(parser, kCommand, arguments,
                                             QStringLiteral("no variable given: expected ADDR[:COUNT]..."),
                                             &commandLine, readSeconds);
    if (parsed >= 0)
        return parsed;

    QString error;
    QList<ValueVariable> variables;
    QList<VariableAddress> addresses;
    for (const QString& text : commandLine.texts) {
        ValueVariable variable;
        if (!parseValueVariable(text, commandLine.format, commandLine.formatGiven, true, &variable, &error))
            return usageError(kCommand, error);
        variables.append(variable);
        addresses.append(variable.address);
    }

    installInterruptHandler();
    auto runtime = startRuntime(commandLine.settings, nullptr, false, &error);
    if (!runtime)
        return failure(kCommand, error);
    runtime->setPolledVariables(addresses);

    QTextStream& out = standardOutput();
    QVector<QStringList> shown(variables.size());
    bool scanned = false;
    bool answering = true;
    qint64 giveUpsSeen = 0;
    qint64 goodSeen = 0;
    QElapsedTimer clock;
    clock.start();
    while (!interrupted() && (seconds == 0 || clock.elapsed() < qint64(seconds) * 1000)) {
        QThread::msleep(LookIntervalMs);
        const LineStatistics stats = runtime->statistics();
        if (stats.giveUps > giveUpsSeen && answering) {
            out << timestamp() << " PLC not answering: " << describeResult(stats.lastGiveUpCode) << "\n" << Qt::flush;
            answering = false;
        } else if (!answering && stats.goodReplies > goodSeen && stats.giveUps == giveUpsSeen) {
            out << timestamp() << " PLC answering again\n" << Qt::flush;
            answering = true;
        }
        giveUpsSeen = stats.giveUps;
        goodSeen = stats.goodReplies;
        scanned = scanned || runtime->scanComplete();
        if (!scanned)
            continue;
        for (int i = 0; i < variables.size(); ++i) {
            const QStringList lines = variables.at(i).valueLines(runtime->values(variables.at(i).address));
            for (int k = 0; k < lines.size(); ++k) {
                if (shown[i].value(k) != lines.at(k))
                    out << timestamp() << " " << lines.at(k) << "\n";
            }
            shown[i] = lines;
        }
        out << Qt::flush;
    }
    runtime->stop();
    return answering ? ExitOk : ExitFailed;
}
