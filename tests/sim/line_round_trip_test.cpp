// Round trips over real lines: a pseudo-terminal opened as a host opens a
// serial port, and a TCP connection on loopback. Waits are bounded and
// generous; nothing asserts on elapsed time.

#include "pty_line.h"
#include "support/qt_printers.h"
#include "tcp_line.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int WaitMs = 5000;
const char* kReadD100 = "02 30 31 30 43 38 30 32 03 37 31";
const char* kReplyD100 = "02 33 34 31 32 03 43 44";

LineOptions pacedAt38400()
{
    LineOptions options;
    options.pacing.baudRate = 38400;
    options.pacing.responseDelayUs = 2000;
    return options;
}

// A host's end of the pseudo-terminal, opened and set raw like a serial port.
class PtyHost {
public:
    explicit PtyHost(const QString& path)
    {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios mode{};
        if (fd_ >= 0 && tcgetattr(fd_, &mode) == 0) {
            cfmakeraw(&mode);
            tcsetattr(fd_, TCSANOW, &mode);
        }
    }
    ~PtyHost()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }

    void send(const QByteArray& bytes) const
    {
        ASSERT_EQ(::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    }

    // Reads until `count` bytes came or WaitMs passed.
    QByteArray receive(int count) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < count && clock.elapsed() < WaitMs) {
            pollfd fd{fd_, POLLIN, 0};
            if (poll(&fd, 1, 50) > 0) {
                char buffer[256];
                const ssize_t n = ::read(fd_, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, static_cast<int>(n));
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

TEST(PtyLine, AnswersAHostOnThePseudoTerminal)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    PtyLine line(plc, pacedAt38400());
    QString error;
    ASSERT_TRUE(line.open(&error)) << error.toStdString();
    ASSERT_TRUE(line.devicePath().startsWith(QLatin1String("/dev/")));

    PtyHost host(line.devicePath());
    ASSERT_TRUE(host.isOpen());
    const QByteArray request = fromHexBytes(kReadD100);
    host.send(request.left(5)); // in two pieces, as a slow line delivers them
    QThread::msleep(20);
    host.send(request.mid(5) + fromHexBytes("05"));
    EXPECT_EQ(host.receive(9), fromHexBytes(kReplyD100) + fromHexBytes("06"));

    host.send(fromHexBytes("02 37 30 30 30 35 03 46 46")); // force ON Y0
    EXPECT_EQ(host.receive(1), fromHexBytes("06"));
    EXPECT_TRUE(plc.bit(0x0500));
    line.close();
    EXPECT_FALSE(line.isOpen());
    EXPECT_TRUE(line.devicePath().isEmpty());
}

TEST(PtyLine, RunsScansOnItsTimer)
{
    VirtualPlcOptions options;
    options.scanProgram = true;
    VirtualPlc plc(options);
    LineOptions lineOptions;
    lineOptions.scanIntervalMs = 5;
    PtyLine line(plc, lineOptions);
    ASSERT_TRUE(line.open());
    QElapsedTimer clock;
    clock.start();
    while (plc.counters().scans < 3 && clock.elapsed() < WaitMs)
        QThread::msleep(5);
    EXPECT_GE(plc.counters().scans, 3u);
    EXPECT_GE(plc.word(0x1000), 3); // D0 counts scans
}

QByteArray receiveTcp(QTcpSocket& socket, int count)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < WaitMs) {
        if (socket.bytesAvailable() == 0)
            socket.waitForReadyRead(50);
        got += socket.readAll();
    }
    return got;
}

TEST(TcpLine, AnswersAHostOnLoopback)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    TcpLine line(plc, pacedAt38400());
    QString error;
    ASSERT_TRUE(line.open(0, &error)) << error.toStdString();
    ASSERT_NE(line.port(), 0);

    QTcpSocket host;
    host.connectToHost(QStringLiteral("127.0.0.1"), line.port());
    ASSERT_TRUE(host.waitForConnected(WaitMs));
    host.write(fromHexBytes("FF 00") + fromHexBytes(kReadD100)); // garbage first
    host.write(fromHexBytes("02 31 31 30 43 38 30 32 33 34 31 32 03 33 43")); // write D100 = 0x1234
    ASSERT_TRUE(host.waitForBytesWritten(WaitMs));
    EXPECT_EQ(receiveTcp(host, 9), fromHexBytes(kReplyD100) + fromHexBytes("06"));

    QTcpSocket second; // one host at a time, as a device server port
    second.connectToHost(QStringLiteral("127.0.0.1"), line.port());
    if (second.waitForConnected(WaitMs)) {
        EXPECT_TRUE(second.state() == QAbstractSocket::UnconnectedState
                    || second.waitForDisconnected(WaitMs));
    }

    host.write(fromHexBytes("05"));
    EXPECT_EQ(receiveTcp(host, 1), fromHexBytes("06"));
    EXPECT_EQ(plc.counters().bytesIgnored, 2u);
    line.close();
    EXPECT_EQ(line.port(), 0);
}

TEST(TcpLine, ReportsAPortItCannotHave)
{
    VirtualPlc plc;
    TcpLine first(plc);
    ASSERT_TRUE(first.open());
    TcpLine second(plc);
    QString error;
    EXPECT_FALSE(second.open(first.port(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(second.isOpen());
}

} // namespace
