#include "pty_server.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool makeRaw(int fd)
{
    termios mode{};
    if (tcgetattr(fd, &mode) != 0)
        return false;
    cfmakeraw(&mode);
    return tcsetattr(fd, TCSANOW, &mode) == 0;
}

} // namespace

PtyServer::PtyServer(VirtualPlc& plc, const ServerOptions& options) : PortServer(plc, options) {}

PtyServer::~PtyServer()
{
    close();
}

bool PtyServer::open(QString* error)
{
    QString reason;
    if (isOpen()) {
        reason = QStringLiteral("the pseudo-terminal is already open");
    } else {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        char name[128] = {};
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
        if (reason.isEmpty()) {
            devicePath_ = QString::fromLocal8Bit(name);
            if (startLoop(&reason))
                return true;
        }
        closeDescriptors();
    }
    if (error)
        *error = reason;
    return false;
}

void PtyServer::close()
{
    stopLoop();
    closeDescriptors();
}

void PtyServer::closeDescriptors()
{
    for (int* fd : {&master_, &slave_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    devicePath_.clear();
}
