#include "pty_line.h"

#include "reply_schedule.h"

#include <QByteArray>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 IdlePollNs = 100 * 1000000LL; // wake at least every 100 ms
// A timed sleep ends 50 to 150 us late on a busy or virtual machine: a few
// percent of a 4 ms exchange at 115200 baud. The thread sleeps until this
// long before a reply is due and polls the line without sleeping after that.
constexpr qint64 PollBeforeDueNs = 200 * 1000;
constexpr int ReadChunk = 512;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool makeRaw(int fd)
{
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
        return false;
    cfmakeraw(&mode);
    return tcsetattr(fd, TCSANOW, &mode) == 0;
}

} // namespace

PtyLine::PtyLine(VirtualPlc& plc, const LineOptions& options) : plc_(plc), options_(options) {}

PtyLine::~PtyLine()
{
    close();
}

bool PtyLine::open(QString* error)
{
    QString reason;
    if (isOpen()) {
        reason = QStringLiteral("the pseudo-terminal line is already open");
    } else {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char name[128] = {};
        int pipeFds[2] = {-1, -1};
        if (master_ < 0)
            reason = systemError("posix_openpt");
        else if (grantpt(master_) != 0)
            reason = systemError("grantpt");
        else if (unlockpt(master_) != 0)
            reason = systemError("unlockpt");
        else if (ptsname_r(master_, name, sizeof name) != 0)
            reason = systemError("ptsname");
        else if ((slave_ = ::open(name, O_RDWR | O_NOCTTY)) < 0)
            reason = systemError("open slave");
        else if (!makeRaw(slave_))
            reason = systemError("raw mode");
        else if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0)
            reason = systemError("non-blocking master");
        else if (pipe(pipeFds) != 0)
            reason = systemError("pipe");
        wakeRead_ = pipeFds[0];
        wakeWrite_ = pipeFds[1];
        if (reason.isEmpty()) {
            devicePath_ = QString::fromLocal8Bit(name);
            stopping_ = false;
            thread_ = std::thread([this] { run(); });
            return true;
        }
        closeDescriptors();
    }
    if (error)
        *error = reason;
    return false;
}

void PtyLine::close()
{
    if (thread_.joinable()) {
        stopping_ = true;
        const char wake = 1;
        (void)!::write(wakeWrite_, &wake, 1);
        thread_.join();
    }
    closeDescriptors();
}

void PtyLine::closeDescriptors()
{
    for (int* fd : {&master_, &slave_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    devicePath_.clear();
}

// How long the thread may sleep now: until shortly before the next reply is
// due, the next scan or the idle poll, whichever comes first.
qint64 PtyLine::sleepNs(const ReplySchedule& schedule, qint64 now, qint64 nextScan) const
{
    qint64 wait = IdlePollNs;
    if (!schedule.isEmpty())
        wait = schedule.nextDueNs(now) - now - PollBeforeDueNs;
    if (options_.scanIntervalMs > 0)
        wait = qMin(wait, nextScan - now);
    return qBound<qint64>(0, wait, IdlePollNs);
}

void PtyLine::run()
{
    // The default timer slack lets a sleep end up to 50 us late on top.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    ReplySchedule schedule(options_.pacing);
    QByteArray outgoing;
    const qint64 scanNs = qint64(qMax(options_.scanIntervalMs, 0)) * 1000000;
    qint64 nextScan = nowNs() + scanNs;

    while (!stopping_) {
        qint64 now = nowNs();
        outgoing += schedule.takeDue(now);
        if (scanNs > 0 && now >= nextScan) {
            plc_.runScan();
            nextScan = qMax(nextScan + scanNs, now); // a late scan does not cause a burst
        }

        const timespec timeout{0, static_cast<long>(sleepNs(schedule, now, nextScan))};

        pollfd fds[2] = {{master_, static_cast<short>(POLLIN | (outgoing.isEmpty() ? 0 : POLLOUT)), 0},
                         {wakeRead_, POLLIN, 0}};
        if (ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLNVAL)))
            break;
        if (fds[0].revents & POLLIN) {
            char buffer[ReadChunk];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                schedule.add(plc_.receiveReplies(QByteArray(buffer, static_cast<int>(n))), nowNs());
        }
        if ((fds[0].revents & POLLOUT) && !outgoing.isEmpty()) {
            const ssize_t n = ::write(master_, outgoing.constData(), static_cast<size_t>(outgoing.size()));
            if (n > 0)
                outgoing.remove(0, static_cast<int>(n));
        }
    }
}
