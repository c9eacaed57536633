#pragma once

// The built `tavrin` tool as a child process, and a virtual PLC served by the
// test itself on a pseudo-terminal or a TCP port, so that a test can set and
// look at PLC memory while the tool talks to it.

#include "pty_server.h"
#include "tcp_server.h"
#include "virtual_plc.h"

#include <QProcess>
#include <QStringList>

#include <memory>

// The environment of a child tool: under AddressSanitizer, its leak check
// leaves out what libraries keep until the process ends (tests/lsan.supp).
inline QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("LSAN_OPTIONS")))
        environment.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("suppressions=" TAVRIN_SOURCE_DIR "/tests/lsan.supp"));
    return environment;
}

inline QStringList toolWords(const QString& commandLine)
{
    return commandLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// What `tavrin ARGUMENTS` prints, then "exit N" (N is -1 when it was killed
// at the generous bound): stdout and stderr as they came, or one after the
// other where a word ">FILE" or "2>FILE" sends one of them to FILE, as a
// shell would.
inline QString runTool(QStringList arguments)
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    for (int k = arguments.size() - 1; k >= 0; --k) {
        const QString& word = arguments.at(k);
        if (!word.startsWith(QLatin1Char('>')) && !word.startsWith(QLatin1String("2>")))
            continue;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        if (word.startsWith(QLatin1Char('>')))
            process.setStandardOutputFile(word.mid(1));
        else
            process.setStandardErrorFile(word.mid(2));
        arguments.removeAt(k);
    }
    process.start(QStringLiteral(TAVRIN_TOOL_PATH), arguments);
    if (!process.waitForFinished(120000))
        process.kill();
    process.waitForFinished();
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const bool merged = process.processChannelMode() == QProcess::MergedChannels;
    return QString::fromUtf8(process.readAllStandardOutput() + (merged ? QByteArray() : process.readAllStandardError()))
        + QStringLiteral("exit %1").arg(exitCode);
}

inline QString tavrin(const QString& commandLine)
{
    return runTool(toolWords(commandLine));
}

// `tavrin sim` as a child process, killed when the test ends.
struct SimProcess : QProcess {
    ~SimProcess() override
    {
        kill();
        waitForFinished();
    }
    // Starts `tavrin WORDS`; returns where it listens: /dev/pts/N or tcp:127.0.0.1:PORT.
    QString listen(const QStringList& words)
    {
        QProcess::start(QStringLiteral(TAVRIN_TOOL_PATH), words);
        while (!canReadLine() && waitForReadyRead(10000)) {
        }
        return QString::fromUtf8(readLine()).section(QLatin1Char(' '), 2).trimmed(); // "listening on ..."
    }
    // Starts `tavrin sim --baud 0 OPTIONS`; returns the options that point a
    // command at it (only lost replies wait 50 ms).
    QString start(const QString& options)
    {
        return QStringLiteral(" --timeout-ms 50 --port ") + listen(toolWords(QStringLiteral("sim --baud 0 ") + options));
    }
};

enum class ServedOn { Pty, Tcp };

// A virtual PLC of this process behind a pseudo-terminal or a TCP port.
struct ServedPlc {
    VirtualPlc plc;
    std::unique_ptr<PtyServer> pty;
    std::unique_ptr<TcpServer> tcp;

    ServedPlc(ServedOn on, const VirtualPlcOptions& options, const ServerOptions& line = ServerOptions())
        : plc(options)
    {
        if (on == ServedOn::Pty) {
            pty = std::make_unique<PtyServer>(plc, line);
            pty->open();
        } else {
            tcp = std::make_unique<TcpServer>(plc, line);
            tcp->open();
        }
    }

    // The --port value that reaches it.
    QString port() const
    {
        return pty ? pty->devicePath() : QStringLiteral("tcp:127.0.0.1:%1").arg(tcp->port());
    }
};
