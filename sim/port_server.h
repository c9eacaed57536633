#pragma once

// What the virtual PLC's servers share: a thread of their own that reads
// the host's bytes, feeds the PLC, and sends each reply when the line's
// pacing says it is due (reply_schedule.h), runs the scan program, and
// stops when told. Plain descriptors and poll, no event loop: the hand-offs
// between threads are the ones a thread checker sees.
//
// A server gives the loop the descriptor that carries the host's bytes
// (a pseudo-terminal's master side, a TCP connection), and may listen for
// a new host (TCP), which replaces the old one.

#include "server_options.h"
#include "virtual_plc.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <atomic>
#include <thread>

class ReplySchedule;

class PortServer {
public:
    PortServer(const PortServer&) = delete;
    PortServer& operator=(const PortServer&) = delete;
    bool isOpen() const { return thread_.joinable(); }

protected:
    PortServer(VirtualPlc& plc, const ServerOptions& options);
    ~PortServer();

    // Starts the loop; false with a reason when the wake pipe cannot be had.
    bool startLoop(QString* error);
    // Stops the loop and waits for it; replies not yet due are dropped.
    void stopLoop();

    // The descriptor the host's bytes come on, -1 while there is no host.
    virtual int hostFd() const = 0;
    // Descriptors that are readable when a new host knocks, -1 for none.
    virtual std::array<int, 2> listenFds() const { return {-1, -1}; }
    // Takes the new host knocking on `listener`: the loop drops what it
    // owed the old one.
    virtual void acceptHost(int /*listener*/) {}
    // The host went (its descriptor hung up or failed).
    virtual void hostGone() {}

    static QString systemError(const char* what);

private:
    void run();
    qint64 sleepNs(const ReplySchedule& schedule, qint64 now, qint64 nextScan) const;
    void forgetHost(ReplySchedule& schedule, QByteArray& outgoing);

    VirtualPlc& plc_;
    ServerOptions options_;
    int wakeRead_ = -1; // a pipe that wakes the loop to stop
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
