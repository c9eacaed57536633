#pragma once

// The built tool's gateway as a child process on loopback, and the free
// ports and child processes the tests around it use.

#include "support/wait_until.h"
#include "tool/tool_process.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

inline quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A configuration file of `text` in `dir`; its name.
inline QString writeConfig(const QTemporaryDir& dir, const QString& text)
{
    QFile file(dir.filePath(QStringLiteral("gateway.yaml")));
    if (file.open(QIODevice::WriteOnly))
        file.write(text.toUtf8());
    return file.fileName();
}

// A child process that ends with the test that started it.
struct ChildProcess : QProcess {
    ~ChildProcess() override
    {
        kill();
        waitForFinished();
    }
};

// `tavrin gateway CONFIG` as a child process.
struct GatewayProcess {
    ChildProcess process;
    QString printed;

    void start(const QString& configFile)
    {
        process.setProcessEnvironment(toolEnvironment());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(TAVRIN_TOOL_PATH), {QStringLiteral("gateway"), configFile});
        process.waitForStarted();
    }

    // SIGTERM, as a service manager stops it; its exit code, -1 if it had to be killed.
    int stop()
    {
        process.terminate();
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // Everything it has printed so far (read only when asked: no event loop here).
    std::string log()
    {
        process.waitForReadyRead(200);
        printed += QString::fromUtf8(process.readAll());
        return printed.toStdString();
    }
};
