// A round trip over TCP on loopback, paced at 38400 baud, to the newest host.
// Waits are bounded and generous; nothing asserts on time.

#include "support/qt_printers.h"
#include "tcp_server.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray kReadD100 = fromHexBytes("02 30 31 30 43 38 30 32 03 37 31");
const QByteArray kReplyD100 = fromHexBytes("02 33 34 31 32 03 43 44"); // D100 = 0x1234

const ServerOptions kPacedAt38400{LinePacing{38400, 2000}, 0}; // baud, answer delay in us, no scans

// Sends `request` on a descriptor, reads until `count` bytes came or 100
// polls of 50 ms passed, and closes the descriptor.
QByteArray exchangeAndClose(int fd, const QByteArray& request, int count)
{
    EXPECT_EQ(::write(fd, request.constData(), static_cast<size_t>(request.size())), request.size());
    QByteArray got;
    char buffer[64];
    for (int waitedMs = 0; got.size() < count && waitedMs < 5000; waitedMs += 50) {
        pollfd wait{fd, POLLIN, 0};
        const ssize_t n = poll(&wait, 1, 50) > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
        got.append(buffer, static_cast<int>(qMax<ssize_t>(n, 0)));
    }
    ::close(fd);
    return got;
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// A host that reconnects before the line noticed its old connection close
// is let in and served; the old connection is closed. The newest host writes
// D100 = 0x1234 ("1" "10C8" "02" "3412", sum 23C), then reads it back.
TEST(TcpServer, ServesTheNewestHostOnLoopback)
{
    VirtualPlc plc;
    TcpServer line(plc, kPacedAt38400);
    QString error;
    ASSERT_TRUE(line.open(0, &error)) << error.toStdString();
    const int old = connectTo(line.port());
    const int newest = connectTo(line.port());
    const QByteArray writeD100 = fromHexBytes("02 31 31 30 43 38 30 32 33 34 31 32 03 33 43");
    EXPECT_EQ(exchangeAndClose(newest, writeD100 + kReadD100, 9), fromHexBytes("06") + kReplyD100);
    pollfd closed{old, POLLIN, 0};
    ASSERT_EQ(poll(&closed, 1, 5000), 1);
    char byte = 0;
    EXPECT_LE(::read(old, &byte, 1), 0); // end of file or reset
    ::close(old);
}

} // namespace
