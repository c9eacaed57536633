#include "pty_round_trip.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Reads until `count` bytes have come or the descriptor fails.
bool readExactly(int fd, int count, std::vector<char>& buffer)
{
    int got = 0;
    while (got < count) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 1000) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            return false;
        got += static_cast<int>(n);
    }
    return true;
}

} // namespace

double ptyRoundTripMicroseconds(int requestBytes, int replyBytes, int exchanges)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return -1;
    const char* path = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    const int slave = path ? ::open(path, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        ::close(master);
        return -1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    const std::vector<char> request(static_cast<size_t>(requestBytes), '0');
    const std::vector<char> reply(static_cast<size_t>(replyBytes), '0');
    std::thread echo([&] {
        std::vector<char> buffer(512);
        for (int i = 0; i < exchanges; ++i) {
            if (!readExactly(master, requestBytes, buffer))
                return;
            if (::write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
                return;
        }
    });

    std::vector<char> buffer(512);
    int done = 0;
    const auto start = std::chrono::steady_clock::now();
    for (; done < exchanges; ++done) {
        if (::write(slave, request.data(), request.size()) != static_cast<ssize_t>(request.size())
            || !readExactly(slave, replyBytes, buffer))
            break;
    }
    const auto end = std::chrono::steady_clock::now();
    echo.join();
    ::close(slave);
    ::close(master);
    if (done == 0)
        return -1;
    return std::chrono::duration<double, std::micro>(end - start).count() / done;
}
