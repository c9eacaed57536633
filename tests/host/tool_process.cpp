#include "tool_process.h"

#include <QDeadlineTimer>

ToolRun runTool(const QStringList& arguments, int boundMs)
{
    QProcess process;
    process.start(QStringLiteral(TAVRIN_TOOL_PATH), arguments);
    ToolRun run;
    run.finished = process.waitForFinished(boundMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

SimServer::SimServer(const QStringList& arguments)
    : process_(std::make_unique<QProcess>())
{
    process_->start(QStringLiteral(TAVRIN_TOOL_PATH), QStringList{QStringLiteral("sim")} + arguments);
    const QString prefix = QStringLiteral("listening on ");
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process_->state() != QProcess::NotRunning) {
        process_->waitForReadyRead(100);
        output_ += QString::fromUtf8(process_->readAllStandardOutput());
        const int at = output_.indexOf(prefix);
        const int end = output_.indexOf(QLatin1Char('\n'), at);
        if (at >= 0 && end > at) {
            port_ = output_.mid(at + prefix.size(), end - at - prefix.size()).trimmed();
            return;
        }
    }
}

SimServer::~SimServer()
{
    process_->terminate(); // SIGTERM: the sim closes its line and prints its counters
    if (!process_->waitForFinished(5000)) {
        process_->kill();
        process_->waitForFinished();
    }
}
