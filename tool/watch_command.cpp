// tavrin watch ADDR...: polls variables and prints each change with a
// timestamp, or every value on every pass with --interval and --count.

#include "watch_command.h"

#include "command_line.h"
#include "commands.h"
#include "interrupts.h"
#include "poll_period.h"
#include "port_options.h"
#include "read_command.h"
#include "statistics_report.h"
#include "value_command_line.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

const QString kCommand = QStringLiteral("watch");
// How often the image is looked at in the change mode; the line itself runs
// at its own speed.
constexpr int LookIntervalMs = 20;
constexpr int DefaultPassIntervalMs = 1000;

QString timestamp(const QDateTime& at)
{
    return at.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString recordOf(const VariableReport& report, OutputStyle style)
{
    return style == OutputStyle::Json ? jsonLine(report) : csvRow(report);
}

struct WatchOptions {
    int seconds = 0;       // 0: until Ctrl-C (or --count)
    int intervalMs = 0;    // > 0: a pass every so often, printing every value
    int passes = 0;        // > 0: stop after so many passes
    int everyMs = 0;       // --every: the poll period of variables without /EVERY; 0: as fast as the line allows
};

// Cuts a variable's "/EVERY" poll period off its text: "D0:20/200ms".
bool cutEvery(QString* text, int fallbackMs, int* everyMs, QString* error)
{
    *everyMs = fallbackMs;
    const int slash = int(text->lastIndexOf(QLatin1Char('/')));
    if (slash < 0)
        return true;
    QString why;
    if (!parsePollPeriod(text->mid(slash + 1), everyMs, &why)) {
        *error = QStringLiteral("\"%1\": poll period %2").arg(*text, why);
        return false;
    }
    text->truncate(slash);
    return true;
}

bool watchOptionsFrom(const QCommandLineParser& parser, WatchOptions* options, QString* error)
{
    if (!boundedOption(parser, QStringLiteral("seconds"), 0, 1000000, &options->seconds, error))
        return false;
    // A watch of no passes would run until Ctrl-C, the opposite of what was asked.
    if (parser.isSet(QStringLiteral("count"))
        && !boundedOption(parser, QStringLiteral("count"), 1, 1000000, &options->passes, error)) {
        *error += QStringLiteral("; leave --count out to watch until Ctrl-C or --seconds");
        return false;
    }
    if (parser.isSet(QStringLiteral("every"))
        && !parsePollPeriod(parser.value(QStringLiteral("every")), &options->everyMs, error)) {
        *error = QStringLiteral("--every ") + *error;
        return false;
    }
    if (parser.isSet(QStringLiteral("interval"))) {
        if (!boundedOption(parser, QStringLiteral("interval"), 1, 3600000, &options->intervalMs, error))
            return false;
    } else if (options->passes > 0) {
        options->intervalMs = DefaultPassIntervalMs;
    }
    return true;
}

class Watch {
public:
    Watch(HostRuntime& runtime, const QList<ValueVariable>& variables, OutputStyle style)
        : runtime_(runtime), variables_(variables), style_(style), shown_(variables.size())
    {
    }

    // Prints the line's events: in the text among the values, else on
    // standard error, so that standard output stays one record a line.
    void printEvents()
    {
        QTextStream& to = style_ == OutputStyle::Text ? standardOutput() : standardError();
        for (const LineEvent& event : runtime_.takeLineEvents())
            to << timestamp(event.at) << " " << event.text << "\n";
        standardError() << Qt::flush;
    }

    // Change mode: one look at the image.
    bool look()
    {
        QVector<VariableQuality> qualities;
        for (int i = 0; i < variables_.size(); ++i)
            qualities.append(runtime_.quality(i));
        // After the qualities: a block given up for want of replies has
        // already turned the line's health by then.
        health_ = runtime_.health();
        bool allGood = true;
        const QDateTime now = QDateTime::currentDateTime();
        for (int i = 0; i < variables_.size(); ++i) {
            VariableReport report{variables_.at(i), {}, qualities.at(i).error, now};
            if (qualities.at(i).quality == Quality::Good)
                report.bytes = runtime_.values(report.variable.address);
            print(watchLines(report, qualities.at(i).quality, health_.state == LineState::Up, style_, &shown_[i]), now);
            allGood = allGood && qualities.at(i).quality != Quality::Bad;
        }
        return health_.state == LineState::Up && allGood;
    }

    // Pass mode: every variable read afresh, every value printed.
    bool pass()
    {
        bool allGood = true;
        for (VariableReport report : readOnce(runtime_, variables_)) {
            report.at = QDateTime::currentDateTime();
            QStringList lines;
            if (style_ != OutputStyle::Text)
                lines << recordOf(report, style_);
            else if (report.good())
                lines = textLines(report);
            else
                lines << QStringLiteral("%1: %2").arg(report.variable.address.text, report.error);
            print(lines, report.at);
            allGood = allGood && report.good();
        }
        return allGood;
    }

private:
    void print(const QStringList& lines, const QDateTime& at)
    {
        QTextStream& out = standardOutput();
        for (const QString& line : lines)
            out << (style_ == OutputStyle::Text ? timestamp(at) + QLatin1Char(' ') : QString()) << line << "\n";
    }

    HostRuntime& runtime_;
    const QList<ValueVariable>& variables_;
    OutputStyle style_;
    QVector<WatchShown> shown_;
    LineHealth health_;
};

} // namespace

QStringList watchLines(const VariableReport& now, Quality quality, bool lineUp, OutputStyle style,
                       WatchShown* shown)
{
    QStringList printed;
    if (quality == Quality::Good) {
        const QStringList lines = textLines(now);
        const QStringList values = now.texts();
        const bool again = shown->quality != Quality::Good;
        if (style != OutputStyle::Text) {
            if (again || shown->values != values)
                printed << recordOf(now, style);
        } else {
            for (int k = 0; k < lines.size(); ++k) {
                if (again || shown->values.value(k) != values.at(k))
                    printed << lines.at(k);
            }
        }
        *shown = WatchShown{Quality::Good, values, QString()};
    } else if (quality == Quality::Bad) {
        if (lineUp && (shown->quality != Quality::Bad || shown->error != now.error))
            printed << (style == OutputStyle::Text ? QStringLiteral("%1: %2").arg(now.variable.address.text, now.error)
                                                   : recordOf(now, style));
        *shown = WatchShown{Quality::Bad, QStringList(), now.error};
    }
    return printed;
}

int runWatchCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Polls the variables without pause and prints each one's values once its registers "
                       "have been read, then every change, with a timestamp; a variable the PLC refuses is "
                       "reported once as its own error. With --interval or --count it prints every value on "
                       "every pass instead, as a poll loop does. A lost line is reopened and said so. Runs "
                       "until Ctrl-C, --seconds or --count; exits with 1 when the line, the PLC or a variable "
                       "is in trouble at the end. A variable's /EVERY (or --every for all without one) polls it "
                       "that often instead of as fast as the line allows, so that a few fast variables stay "
                       "fresh beside many slow ones; a line that cannot carry the periods asked is said so once, "
                       "and every period is stretched alike.\n"
                       "Example: tavrin watch D0:20/200ms D100:200/10s X0:8 D200@float --port tcp:192.0.2.20:4001"));
    parser.addPositionalArgument(QStringLiteral("watch"), QStringLiteral("The command."), QStringLiteral("watch"));
    parser.addPositionalArgument(QStringLiteral("ADDR[@FORMAT][:COUNT][/EVERY]"),
                                 QStringLiteral("Variables to poll; /EVERY is a poll period such as /200ms or /10s."),
                                 QStringLiteral("ADDR[@FORMAT][:COUNT][/EVERY]..."));
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Stop after this many seconds. Default: 0, until Ctrl-C."),
                      QStringLiteral("S"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("interval"),
                      QStringLiteral("Read every variable afresh this often and print all values. "
                                     "Default with --count: 1000."),
                      QStringLiteral("MS")});
    parser.addOption({QStringLiteral("every"),
                      QStringLiteral("Poll period of the variables without /EVERY, such as 500ms or 10s, from 10ms "
                                     "to 3600s. Default: as fast as the line allows."),
                      QStringLiteral("PERIOD")});
    parser.addOption({QStringLiteral("count"),
                      QStringLiteral("Stop after this many passes, 1 or more (with --interval). Default: none, "
                                     "until Ctrl-C or --seconds."),
                      QStringLiteral("N")});
    WatchOptions options;
    ValueCommandLine commandLine;
    const int parsed = parseValueCommandLine(
        parser, kCommand, arguments, ValueOutput::Styles,
        QStringLiteral("no variable given: expected ADDR[@FORMAT][:COUNT][/EVERY]..."), &commandLine,
        [&options](const QCommandLineParser& own, QString* error) { return watchOptionsFrom(own, &options, error); });
    if (parsed >= 0)
        return parsed;
    QString error;
    QVector<int> everyMs(commandLine.texts.size());
    bool periodGiven = options.everyMs > 0;
    for (int i = 0; i < commandLine.texts.size(); ++i) {
        if (!cutEvery(&commandLine.texts[i], options.everyMs, &everyMs[i], &error))
            return usageError(kCommand, error);
        periodGiven = periodGiven || everyMs.at(i) != options.everyMs;
    }
    if (periodGiven && commandLine.settings.planning == ReadPlanning::Module)
        return usageError(kCommand, QStringLiteral("poll periods (/EVERY, --every) need the planner's blocks: "
                                                   "leave out --planner module"));
    if (periodGiven && options.intervalMs > 0)
        return usageError(kCommand, QStringLiteral("poll periods (/EVERY, --every) and --interval or --count exclude "
                                                   "each other: --interval reads every variable afresh each pass"));
    QList<ValueVariable> variables;
    if (!planVariables(commandLine.texts, commandLine.format, &variables, &error))
        return usageError(kCommand, error);

    auto runtime = startRuntime(commandLine.settings, nullptr, false, &error);
    if (!runtime)
        return failure(kCommand, error);
    const bool passMode = options.intervalMs > 0;
    if (!passMode) {
        QList<VariableAddress> addresses;
        for (const ValueVariable& variable : variables)
            addresses.append(variable.address);
        runtime->setPolledVariables(addresses, everyMs);
    }
    if (commandLine.style == OutputStyle::Csv)
        standardOutput() << csvHeader(true) << "\n";

    Watch watch(*runtime, variables, commandLine.style);
    bool allGood = true;
    QElapsedTimer clock;
    clock.start();
    for (int pass = 0; !interrupted() && !outputFailed(); ++pass) {
        if ((options.seconds > 0 && clock.elapsed() >= qint64(options.seconds) * 1000)
            || (options.passes > 0 && pass >= options.passes))
            break;
        if (passMode && pass > 0)
            QThread::msleep(static_cast<unsigned long>(options.intervalMs));
        else if (!passMode)
            QThread::msleep(LookIntervalMs);
        watch.printEvents();
        allGood = passMode ? watch.pass() : watch.look();
        standardOutput() << Qt::flush;
    }
    runtime->stop();
    if (commandLine.stats)
        standardError() << (statisticsLines(runtime->statistics(), commandLine.settings.baud)
                            + pollClassLines(runtime->pollClasses()))
                               .join(QLatin1Char('\n'))
                        << "\n" << Qt::flush;
    return allGood && !outputFailed() ? ExitOk : ExitFailed;
}
