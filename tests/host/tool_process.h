#pragma once

// The built `tavrin` tool as a child process: one-shot commands, and the
// `tavrin sim` server whose "listening on ..." line names its port.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

struct ToolRun {
    int exitCode = -1;
    bool finished = false; // false: still running at the (generous) bound, then killed
    QString out;
    QString err;
};

// Runs `tavrin ARGS...` and waits for it, at most `boundMs`.
ToolRun runTool(const QStringList& arguments, int boundMs = 60000);

class SimServer {
public:
    // Starts `tavrin sim ARGS...` and waits for its "listening on" line.
    explicit SimServer(const QStringList& arguments);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    bool isListening() const { return !port_.isEmpty(); }
    // What `--port` takes: /dev/pts/N or tcp:127.0.0.1:PORT.
    QString port() const { return port_; }
    QString output() const { return output_; }

private:
    std::unique_ptr<QProcess> process_;
    QString port_;
    QString output_;
};
