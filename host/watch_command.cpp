// tavrin watch ADDR...: polls variables and prints each change with a timestamp.

#include "command_support.h"
#include "commands.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>

namespace {

const QString kCommand = QStringLiteral("watch");
// How often the image is looked at; the line itself runs at its own speed.
constexpr int LookIntervalMs = 20;

QString timestamp(const QDateTime& at = QDateTime::currentDateTime())
{
    return at.toString(QStringLiteral("HH:mm:ss.zzz"));
}

// What the watch last printed of a variable.
struct Shown {
    Quality quality = Quality::Waiting;
    QStringList lines;
    QString error;
};

// Prints what changed about one variable: its values once it is read (again
// after it was bad), each value that changes, and its own error once, unless
// the whole line is in trouble, which the line's own event has said.
void showVariable(QTextStream& out, const ValueVariable& variable, const VariableQuality& quality,
                  const QByteArray& values, bool lineUp, Shown* shown)
{
    if (quality.quality == Quality::Good) {
        const QStringList lines = variable.valueLines(values);
        for (int k = 0; k < lines.size(); ++k) {
            if (shown->quality != Quality::Good || shown->lines.value(k) != lines.at(k))
                out << timestamp() << " " << lines.at(k) << "\n";
        }
        *shown = Shown{Quality::Good, lines, QString()};
    } else if (quality.quality == Quality::Bad) {
        if (lineUp && (shown->quality != Quality::Bad || shown->error != quality.error))
            out << timestamp() << " " << variable.address.text << ": " << quality.error << "\n";
        *shown = Shown{Quality::Bad, QStringList(), quality.error};
    }
}

} // namespace

int runWatchCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls the variables without pause and prints each one's values once its registers "
                       "have been read, then every change, with a timestamp; a variable the PLC refuses is "
                       "reported once as its own error. A lost line is reopened and said so. Runs until "
                       "Ctrl-C or --seconds; exits with 1 when the line, the PLC or a variable is in trouble "
                       "at the end.\n"
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
    QVector<Shown> shown(variables.size());
    bool allGood = true;
    LineHealth health;
    QElapsedTimer clock;
    clock.start();
    while (!interrupted() && (seconds == 0 || clock.elapsed() < qint64(seconds) * 1000)) {
        QThread::msleep(LookIntervalMs);
        for (const LineEvent& event : runtime->takeLineEvents())
            out << timestamp(event.at) << " " << event.text << "\n";
        QVector<VariableQuality> qualities;
        for (int i = 0; i < variables.size(); ++i)
            qualities.append(runtime->quality(i));
        // After the qualities: a block given up for want of replies has
        // already turned the line's health by then.
        health = runtime->health();
        allGood = true;
        for (int i = 0; i < variables.size(); ++i) {
            showVariable(out, variables.at(i), qualities.at(i), runtime->values(variables.at(i).address),
                         health.state == LineState::Up, &shown[i]);
            allGood = allGood && qualities.at(i).quality != Quality::Bad;
        }
        out << Qt::flush;
    }
    runtime->stop();
    return health.state == LineState::Up && allGood ? ExitOk : ExitFailed;
}
