#include "command_line.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

QTextStream& utf8Stream(FILE* file)
{
    static QTextStream out(stdout);
    static QTextStream err(stderr);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    static bool once = [] {
        out.setCodec("UTF-8");
        err.setCodec("UTF-8");
        return true;
    }();
    Q_UNUSED(once);
#endif
    return file == stdout ? out : err;
}

// QCommandLineParser writes the program as it was started
// ("build/tool/tavrin"); the usage line names the tool.
QString helpTextFor(const QCommandLineParser& parser)
{
    QString text = parser.helpText();
    const QString program = QCoreApplication::arguments().value(0);
    const QString usage = QStringLiteral("Usage: ");
    if (!program.isEmpty() && text.startsWith(usage + program))
        text.replace(usage.size(), program.size(), QStringLiteral("tavrin"));
    return text;
}

} // namespace

QTextStream& standardOutput()
{
    return utf8Stream(stdout);
}

QTextStream& standardError()
{
    return utf8Stream(stderr);
}

bool outputFailed()
{
    QTextStream& out = standardOutput();
    out.flush();
    return out.status() != QTextStream::Ok || std::ferror(stdout) != 0 || std::fflush(stdout) != 0;
}

bool errorOutputFailed()
{
    QTextStream& err = standardError();
    err.flush();
    return err.status() != QTextStream::Ok || std::ferror(stderr) != 0 || std::fflush(stderr) != 0;
}

int parseCommandLine(QCommandLineParser& parser, const QString& command, const QStringList& arguments)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    parser.addOption(help);
    if (!parser.parse(arguments))
        return usageError(command, parser.errorText());
    if (parser.isSet(help)) {
        standardOutput() << helpTextFor(parser) << Qt::flush;
        return ExitOk;
    }
    return -1;
}

int usageError(const QString& command, const QString& message)
{
    standardError() << "tavrin " << command << ": " << message << "\n"
                    << "Run 'tavrin " << command << " --help' for the accepted arguments.\n"
                    << Qt::flush;
    return ExitUsage;
}

int failure(const QString& command, const QString& message)
{
    standardError() << "tavrin " << command << ": " << message << "\n" << Qt::flush;
    return ExitFailed;
}

bool parseBoundedInt(const QString& text, int low, int high, int* value)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < low || v > high)
        return false;
    *value = static_cast<int>(v);
    return true;
}

bool boundedOption(const QCommandLineParser& parser, const QString& option, int low, int high, int* value,
                   QString* error)
{
    const QString text = parser.value(option);
    if (parseBoundedInt(text, low, high, value))
        return true;
    *error = QStringLiteral("--%1 \"%2\": expected a whole number from %3 to %4").arg(option, text).arg(low).arg(high);
    return false;
}
