#pragma once

// Lines over a Qt I/O device: a serial port (a USB adapter, a pseudo-terminal)
// and a TCP connection to a serial device server. Both use blocking waits on
// the communication thread, so bytes are taken the moment they arrive.

#include "line.h"

#include <QIODevice>

#include <memory>

class DeviceLine : public Line {
public:
    void close() override;
    bool send(const QByteArray& bytes) override;
    QByteArray receive(int timeoutMs) override;
    bool isConnected() const override { return isUsable(); }
    QString failure() const override;

protected:
    // Takes ownership of the device, created on the communication thread.
    void adopt(std::unique_ptr<QIODevice> device) { device_ = std::move(device); }
    QIODevice* device() const { return device_.get(); }
    // False once the device has failed for good (a closed connection, an
    // unplugged adapter): collecting then stops at once.
    virtual bool isUsable() const;

private:
    std::unique_ptr<QIODevice> device_;
    QString lastError_; // the device's error when it was closed
};

// The programming port's character frame: 7 data bits, even parity, 1 stop bit.
class SerialPortLine : public DeviceLine {
public:
    SerialPortLine(const QString& path, qint32 baud);
    bool open(QString* error) override;
    QString name() const override { return path_; }

protected:
    bool isUsable() const override;

private:
    QString path_;
    qint32 baud_;
};

// A serial device server: the same bytes over TCP. Not the PLC's own
// Ethernet port, which speaks another protocol.
class DeviceServerLine : public DeviceLine {
public:
    DeviceServerLine(const QString& host, quint16 port, int connectTimeoutMs);
    bool open(QString* error) override;
    QString name() const override;

protected:
    bool isUsable() const override;

private:
    QString host_;
    quint16 port_;
    int connectTimeoutMs_;
};
