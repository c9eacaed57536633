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

// What `tavrin ARGUMENTS` prints on stdout, then on stderr, then "exit N"
// (N is -1 when it was killed at the generous bound). A word ">FILE" or
// "2>FILE" sends standard output or error to FILE, as a shell would.
inline QString runTool(QStringList arguments)
{
    QProcess process;
    process.setProcessEnvironment(toolEnvironment());
    for (int k = arguments.size() - 1; k >= 0; --k) {
        const QString& word = arguments.at(k);
        if (word.startsWith(QLatin1String("2>")))
            process.setStandardErrorFile(word.mid(2));
        else if (word.startsWith(QLatin1Char('>')))
            process.setStandardOutputFile(word.mid(1));
        else
            continue;
        arguments.removeAt(k);
    }
    process.start(QStringLiteral(TAVRIN_TOOL_PATH), arguments);
    if (!process.waitForFinished(120000))
        process.kill();
    process.waitForFinished();
    const int exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
        + QStringLiteral("exit %1").arg(exitCode);
}

inline QString tavrin(const QString& commandLine)
{
    return runTool(toolWords(commandLine));
}

// `tavrin sim --baud 0 OPTIONS` as a child process, killed when the test ends.
struct SimProcess : QProcess {
    ~SimProcess() override
    {
        kill();
        waitForFinished();
    }
    // Starts it; returns the options that point a command at it (only lost replies wait 50 ms).
    QString start(const QString& options)
    {
        QProcess::start(QStringLiteral(TAVRIN_TOOL_PATH), toolWords(QStringLiteral("sim --baud 0 ") + options));
        while (!canReadLine() && waitForReadyRead(10000)) {
        }
        // "listening on /dev/pts/N" or "listening on tcp:127.0.0.1:PORT"
        const QString line = QString::fromUtf8(readLine()).section(QLatin1Char(' '), 2).trimmed();
        return QStringLiteral(" --timeout-ms 50 --port ") + line;
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
