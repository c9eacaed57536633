// Every session in docs/cli.md, run as written. A session is a fenced block
// whose lines start with "$ tavrin ..."; what follows a command up to the
// next is what it prints (standard output and error, in order), "(exit N)"
// its exit code (0 when not shown), and a line "..." stands for any lines.
// "$ tavrin sim ... &" starts a virtual PLC in the background for the rest
// of the block, on a free port that stands in for the one the page shows.
// Clock times, process ids and durations are compared as such, not as
// values. A block after "<!-- checked by TEST -->" is one a named test
// plays (a device server restarted, say); the test must exist.

#include "tool_process.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

struct DocCommand {
    int line = 0;
    QString commandLine;
    QStringList expected;
    int exitCode = 0;
};

struct DocSession {
    int line = 0;
    QString checkedBy;
    QVector<DocCommand> commands;
};

QVector<DocSession> sessionsOf(const QStringList& lines)
{
    QVector<DocSession> sessions;
    QString checkedBy;
    static const QRegularExpression checkedByComment(QStringLiteral("^<!-- checked by (\\S+) -->$"));
    for (int i = 0; i < lines.size(); ++i) {
        const auto marker = checkedByComment.match(lines.at(i));
        if (marker.hasMatch())
            checkedBy = marker.captured(1);
        if (!lines.at(i).startsWith(QLatin1String("```")) || !lines.value(i + 1).startsWith(QLatin1String("$ ")))
            continue;
        DocSession session;
        session.line = i + 1;
        session.checkedBy = checkedBy;
        checkedBy.clear();
        for (++i; i < lines.size() && !lines.at(i).startsWith(QLatin1String("```")); ++i) {
            const QString& text = lines.at(i);
            if (text.startsWith(QLatin1String("$ "))) {
                session.commands.append(DocCommand{i + 1, text.mid(2), {}, 0});
            } else if (!session.commands.isEmpty()) {
                static const QRegularExpression exit(QStringLiteral("^\\(exit (\\d+)\\)$"));
                const auto code = exit.match(text);
                if (code.hasMatch())
                    session.commands.last().exitCode = code.captured(1).toInt();
                else
                    session.commands.last().expected << text;
            }
        }
        sessions.append(session);
    }
    return sessions;
}

// What varies from run to run, made the same on both sides.
QString masked(QString text)
{
    static const struct {
        QRegularExpression pattern;
        QString stands;
    } masks[] = {
        {QRegularExpression(QStringLiteral("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z")), QStringLiteral("<ts>")},
        {QRegularExpression(QStringLiteral("\\b\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\b")), QStringLiteral("<time>")},
        {QRegularExpression(QStringLiteral("process \\d+")), QStringLiteral("process <pid>")},
        {QRegularExpression(QStringLiteral("/dev/pts/\\d+")), QStringLiteral("/dev/pts/<n>")},
        {QRegularExpression(QStringLiteral("after \\d+\\.\\d s")), QStringLiteral("after <seconds> s")},
        {QRegularExpression(QStringLiteral("\\(\\d+\\.\\d per second\\)")), QStringLiteral("(<rate> per second)")},
        {QRegularExpression(QStringLiteral("(about|wait|timeout of) \\d+ ms")), QStringLiteral("\\1 <n> ms")},
    };
    for (const auto& mask : masks)
        text.replace(mask.pattern, mask.stands);
    return text;
}

// Lines against a pattern whose "..." lines stand for any lines.
bool matches(const QStringList& lines, int at, const QStringList& pattern, int p)
{
    if (p == pattern.size())
        return at == lines.size();
    if (pattern.at(p) == QLatin1String("...")) {
        for (int skip = at; skip <= lines.size(); ++skip) {
            if (matches(lines, skip, pattern, p + 1))
                return true;
        }
        return false;
    }
    return at < lines.size() && masked(lines.at(at)) == masked(pattern.at(p)) && matches(lines, at + 1, pattern, p + 1);
}

class DocSessionRunner {
public:
    // Runs one command; returns what failed, or nothing.
    QString run(const DocCommand& command)
    {
        QString commandLine = command.commandLine.section(QStringLiteral("  #"), 0, 0); // a comment
        commandLine.remove(QStringLiteral(" | cat")); // a pipe: the tool sees no terminal either way
        if (commandLine.endsWith(QLatin1String(" &")))
            return startSim(commandLine.chopped(2));
        const bool redirected = commandLine.contains(QLatin1String(" > "));
        commandLine.replace(QStringLiteral(" > "), QStringLiteral(" >")); // a word runTool() takes
        const QStringList words = toolWords(forActualPorts(commandLine));
        if (words.value(0) != QLatin1String("tavrin"))
            return QStringLiteral("not a tavrin command");
        QStringList lines = forDocPorts(runTool(words.mid(1))).split(QLatin1Char('\n'));
        const QString exit = lines.takeLast();
        // A loaded machine can make the virtual PLC later than its timeout,
        // which the tool rightly notes; a page that shows no such note
        // does not promise its absence.
        const QString paceNote = QStringLiteral("the PLC answers in about");
        if (command.expected.filter(paceNote).isEmpty())
            lines.erase(std::remove_if(lines.begin(), lines.end(), [&](const QString& line) { return line.contains(paceNote); }),
                        lines.end());
        if (redirected)
            lines.clear(); // the page shows a redirected command's exit code alone
        if (exit != QStringLiteral("exit %1").arg(command.exitCode) || !matches(lines, 0, command.expected, 0))
            return lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + exit;
        return {};
    }

private:
    QString startSim(const QString& commandLine)
    {
        static const QRegularExpression tcpOption(QStringLiteral("--tcp (\\d+)"));
        const auto option = tcpOption.match(commandLine);
        if (!option.hasMatch())
            return QStringLiteral("a background sim needs --tcp PORT");
        QStringList words = toolWords(QString(commandLine).replace(option.capturedStart(1), option.capturedLength(1),
                                                                  QStringLiteral("0")));
        words.removeFirst();
        auto sim = std::make_unique<SimProcess>(); // killed when the session ends
        const QString actual = sim->listen(words).section(QLatin1Char(':'), -1);
        ports_[option.captured(1)] = actual;
        sims_.push_back(std::move(sim));
        return actual.isEmpty() ? QStringLiteral("the sim did not say where it listens") : QString();
    }

    QString forActualPorts(QString text) const
    {
        for (const auto& [doc, actual] : ports_)
            text.replace(QStringLiteral(":%1").arg(doc), QStringLiteral(":%1").arg(actual));
        return text;
    }

    QString forDocPorts(QString text) const
    {
        for (const auto& [doc, actual] : ports_)
            text.replace(QStringLiteral(":%1").arg(actual), QStringLiteral(":%1").arg(doc));
        return text;
    }

    std::map<QString, QString> ports_;
    std::vector<std::unique_ptr<SimProcess>> sims_;
};

bool testExists(const QString& name)
{
    const QString needle = name.section(QLatin1Char('.'), -1);
    QDirIterator files(QStringLiteral(TAVRIN_SOURCE_DIR "/tests"), {QStringLiteral("*.cpp")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle.toUtf8()))
            return true;
    }
    return false;
}

TEST(CliDocs, EverySessionRunsAsTheDocumentShowsIt)
{
    QFile page(QStringLiteral(TAVRIN_SOURCE_DIR "/docs/cli.md"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QVector<DocSession> sessions = sessionsOf(QString::fromUtf8(page.readAll()).split(QLatin1Char('\n')));
    ASSERT_GT(sessions.size(), 5);
    for (const DocSession& session : sessions) {
        if (!session.checkedBy.isEmpty()) {
            EXPECT_TRUE(testExists(session.checkedBy)) << "docs/cli.md:" << session.line << ": no test "
                                                      << session.checkedBy.toStdString();
            continue;
        }
        DocSessionRunner runner;
        for (const DocCommand& command : session.commands) {
            const QString failed = runner.run(command);
            EXPECT_TRUE(failed.isEmpty()) << "docs/cli.md:" << command.line << ": $ "
                                          << command.commandLine.toStdString() << "\n"
                                          << failed.toStdString();
        }
    }
}

} // namespace
