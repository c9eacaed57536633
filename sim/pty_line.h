#pragma once

// The virtual PLC behind a pseudo-terminal: the sim opens the master side
// and reports the slave's device path (/dev/pts/N), which a host opens as a
// serial port. A reader thread feeds the PLC and sends each reply when the
// line's pacing says it is due (reply_schedule.h); the PLC itself never sleeps.
//
// The sim keeps the slave open itself too, in raw mode, so that the master
// side stays readable (no end-of-file) while no host has the port open, and
// so that bytes are not echoed or translated before a host sets its own mode.

#include "line_options.h"
#include "virtual_plc.h"

#include <QString>

#include <atomic>
#include <thread>

class ReplySchedule;

class PtyLine {
public:
    explicit PtyLine(VirtualPlc& plc, const LineOptions& options = LineOptions());
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Opens the pseudo-terminal and starts the thread. False with a reason in
    // `error` (if given) when the system refuses; false too when already open.
    bool open(QString* error = nullptr);
    // Stops the thread and closes both sides; replies not yet due are dropped.
    void close();
    bool isOpen() const { return thread_.joinable(); }
    // The slave's device path while open, else empty.
    QString devicePath() const { return devicePath_; }

private:
    void run();
    qint64 sleepNs(const ReplySchedule& schedule, qint64 now, qint64 nextScan) const;
    void closeDescriptors();

    VirtualPlc& plc_;
    LineOptions options_;
    int master_ = -1;
    int slave_ = -1;
    int wakeRead_ = -1;  // a pipe that wakes the thread to stop
    int wakeWrite_ = -1;
    QString devicePath_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
