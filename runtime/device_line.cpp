#include "device_line.h"

#include "log_categories.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QSerialPort>
#include <QTcpSocket>

#include <algorithm>

namespace {

bool isPseudoTerminal(const QString& path)
{
    return QFileInfo(path).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
}

// The device a path names: a link (/dev/serial/by-id/...) or a relative
// path resolved to the device itself, so that the port's lock is the
// device's whatever name reached it. A bare name ("ttyUSB0") is left to
// the serial port, which looks for it in /dev.
QString devicePath(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.canonicalFilePath() : path;
}

// Who holds the lock file of a port ("tavrin (process 1234)"), or "".
QString lockOwner(const QString& device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        QFile lock(QLatin1String(folder) + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromLocal8Bit(lock.readAll()).split(QLatin1Char('\n'));
        return QStringLiteral("%1 (process %2)").arg(lines.value(1).trimmed(), lines.value(0).trimmed());
    }
    return {};
}

} // namespace

void DeviceLine::close()
{
    if (device_) {
        lastError_ = device_->errorString();
        device_->close();
    }
    device_.reset();
}

QString DeviceLine::failure() const
{
    if (!device_)
        return lastError_.isEmpty() ? QStringLiteral("the line is closed") : lastError_;
    return device_->errorString();
}

bool DeviceLine::isUsable() const
{
    return device_ && device_->isOpen();
}

bool DeviceLine::send(const QByteArray& bytes)
{
    if (!isUsable())
        return false;
    if (device_->write(bytes) != bytes.size())
        return false;
    // Without an event loop the bytes leave only through this wait; 1 s is
    // far above the 0.3 s a 64-byte write takes at 2400 baud.
    while (device_->bytesToWrite() > 0) {
        if (!device_->waitForBytesWritten(1000))
            return false;
    }
    return true;
}

QByteArray DeviceLine::receive(int timeoutMs)
{
    if (!isUsable())
        return {};
    QByteArray bytes = device_->readAll();
    if (bytes.isEmpty() && timeoutMs >= 0 && device_->waitForReadyRead(timeoutMs))
        bytes = device_->readAll();
    return bytes;
}

SerialPortLine::SerialPortLine(const QString& path, qint32 baud)
    : path_(path)
    , baud_(baud)
{
}

bool SerialPortLine::open(QString* error)
{
    auto port = std::make_unique<QSerialPort>();
    const QString device = devicePath(path_);
    port->setPortName(device);
    if (!port->open(QIODevice::ReadWrite)) {
        const QString owner = port->error() == QSerialPort::PermissionError ? lockOwner(device) : QString();
        const QString named = device == path_ ? path_ : QStringLiteral("%1 (%2)").arg(path_, device);
        *error = owner.isEmpty() ? QStringLiteral("cannot open serial port %1: %2").arg(named, port->errorString())
                                 : QStringLiteral("serial port %1 is in use by %2").arg(named, owner);
        return false;
    }
    bool configured = port->setBaudRate(baud_) && port->setFlowControl(QSerialPort::NoFlowControl);
    const bool frameSet = port->setDataBits(QSerialPort::Data7) && port->setParity(QSerialPort::EvenParity)
        && port->setStopBits(QSerialPort::OneStop);
    // A pseudo-terminal has no character frame: Linux keeps it at 8 bits
    // without parity and refuses 7E1. Bytes pass through it unchanged, so
    // the host goes on; a real port that refuses 7E1 is an error.
    const bool pseudoTerminal = !frameSet && isPseudoTerminal(path_);
    if (pseudoTerminal)
        TAVRIN_DEBUG(hostLog).noquote() << path_ << "is a pseudo-terminal: 7E1 does not apply";
    else
        configured = configured && frameSet;
    if (!configured) {
        *error = QStringLiteral("cannot set %1 to %2 baud, 7 data bits, even parity, 1 stop bit: %3")
                     .arg(path_)
                     .arg(baud_)
                     .arg(port->errorString());
        return false;
    }
    TAVRIN_DEBUG(hostLog).noquote() << "opened serial port" << path_ << "at" << baud_
                               << (pseudoTerminal ? "baud" : "baud, 7E1");
    adopt(std::move(port));
    return true;
}

bool SerialPortLine::isUsable() const
{
    // An unplugged adapter leaves the port open with a resource error.
    const auto* port = static_cast<const QSerialPort*>(device());
    return DeviceLine::isUsable() && port->error() != QSerialPort::ResourceError
           && port->error() != QSerialPort::PermissionError;
}

DeviceServerLine::DeviceServerLine(const QString& host, quint16 port, int connectTimeoutMs)
    : host_(host)
    , port_(port)
    , connectTimeoutMs_(connectTimeoutMs)
{
}

QString DeviceServerLine::name() const
{
    const bool ipv6 = host_.contains(QLatin1Char(':'));
    return QStringLiteral("tcp:%1:%2").arg(ipv6 ? QLatin1Char('[') + host_ + QLatin1Char(']') : host_).arg(port_);
}

bool DeviceServerLine::open(QString* error)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(host_, port_);
    if (!socket->waitForConnected(connectTimeoutMs_)) {
        *error = QStringLiteral("cannot connect to %1 (a serial device server): %2")
                     .arg(name(), socket->errorString());
        return false;
    }
    // Requests are a few bytes each: send them at once, not after Nagle's delay.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    TAVRIN_DEBUG(hostLog).noquote() << "connected to" << name();
    adopt(std::move(socket));
    return true;
}

bool DeviceServerLine::isUsable() const
{
    const auto* socket = static_cast<const QTcpSocket*>(device());
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}
