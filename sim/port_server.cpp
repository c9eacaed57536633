#include "port_server.h"

#include "reply_schedule.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr qint64 IdlePollNs = 100 * 1000000LL; // wake at least every 100 ms
// A timed sleep ends 50 to 150 us late on a busy or virtual machine: a few
// percent of a 4 ms exchange at 115200 baud. The loop sleeps until this
// long before a reply is due and polls the line without sleeping after that.
constexpr qint64 PollBeforeDueNs = 200 * 1000;
constexpr int ReadChunk = 512;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PortServer::PortServer(VirtualPlc& plc, const ServerOptions& options) : plc_(plc), options_(options) {}

PortServer::~PortServer()
{
    stopLoop();
}

QString PortServer::systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool PortServer::startLoop(QString* error)
{
    int pipeFds[2] = {-1, -1};
    if (pipe(pipeFds) != 0) {
        *error = systemError("pipe");
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void PortServer::stopLoop()
{
    if (thread_.joinable()) {
        stopping_ = true;
        const char wake = 1;
        (void)!::write(wakeWrite_, &wake, 1);
        thread_.join();
    }
    for (int* fd : {&wakeRead_, &wakeWrite_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

// How long the loop may sleep now: until shortly before the next reply is
// due, the next scan or the idle poll, whichever comes first.
qint64 PortServer::sleepNs(const ReplySchedule& schedule, qint64 now, qint64 nextScan) const
{
    qint64 wait = IdlePollNs;
    if (!schedule.isEmpty())
        wait = schedule.nextDueNs(now) - now - PollBeforeDueNs;
    if (options_.scanIntervalMs > 0)
        wait = qMin(wait, nextScan - now);
    return qBound<qint64>(0, wait, IdlePollNs);
}

void PortServer::forgetHost(ReplySchedule& schedule, QByteArray& outgoing)
{
    schedule.clear();
    outgoing.clear();
    plc_.resetLine();
}

void PortServer::run()
{
    // The default timer slack lets a sleep end up to 50 us late on top.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    ReplySchedule schedule(options_.pacing);
    QByteArray outgoing;
    const qint64 scanNs = qint64(qMax(options_.scanIntervalMs, 0)) * 1000000;
    qint64 nextScan = nowNs() + scanNs;

    while (!stopping_) {
        const qint64 now = nowNs();
        outgoing += schedule.takeDue(now);
        if (scanNs > 0 && now >= nextScan) {
            plc_.runScan();
            nextScan = qMax(nextScan + scanNs, now); // a late scan does not cause a burst
        }
        const timespec timeout{0, static_cast<long>(sleepNs(schedule, now, nextScan))};
        const int host = hostFd();
        const std::array<int, 2> listeners = listenFds();
        pollfd fds[4] = {{wakeRead_, POLLIN, 0},
                         {host, static_cast<short>(POLLIN | (outgoing.isEmpty() ? 0 : POLLOUT)), 0},
                         {listeners[0], POLLIN, 0},
                         {listeners[1], POLLIN, 0}};
        if (ppoll(fds, 4, &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents != 0)
            break;
        if ((fds[2].revents | fds[3].revents) & POLLIN) {
            acceptHost(fds[2].revents & POLLIN ? listeners[0] : listeners[1]);
            forgetHost(schedule, outgoing);
            continue;
        }
        if (host < 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char buffer[ReadChunk];
            const ssize_t n = ::read(host, buffer, sizeof buffer);
            if (n > 0) {
                schedule.add(plc_.receiveReplies(QByteArray(buffer, static_cast<int>(n))), nowNs());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hostGone();
                forgetHost(schedule, outgoing);
                continue;
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            hostGone();
            forgetHost(schedule, outgoing);
            continue;
        }
        if ((fds[1].revents & POLLOUT) && !outgoing.isEmpty()) {
            const ssize_t n = ::write(host, outgoing.constData(), static_cast<size_t>(outgoing.size()));
            if (n > 0)
                outgoing.remove(0, static_cast<int>(n));
        }
    }
}
