#pragma once

// The PLC's device memory over the programming port's byte address space,
// with the range checks a real port applies before it touches memory.
//
// Byte addresses 0x0000..0xFFFF; only bytes inside a device area hold data
// (reads elsewhere give 0, writes elsewhere are ignored). Bit address b is
// bit b % 8 of byte b / 8 of the same space: Y0's bit address 0x0500 is
// bit 0 of byte 0x00A0, where block reads find Y0 to Y7.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

class DeviceMemory {
public:
    DeviceMemory();

    // --- Range checks of the protocol (no count limit here; see VirtualPlc)
    // Every byte of [address, address + count) lies in a device area; count >= 1.
    bool isReadable(qint64 address, qint64 count) const;
    // As isReadable, and no byte lies in an area that refuses writes (the inputs X).
    bool isWritable(qint64 address, qint64 count) const;
    // The bit address lies in a forced type's bit range (S, Y, T, M, C, M8000 up).
    bool isForceable(qint64 bitAddress) const;

    // --- Direct access for the scan, tests and the demo. Any device byte,
    // inputs X included; outside the device areas reads give 0 and writes
    // return false without effect. Words are low byte first, double words
    // low word first.
    quint8 byte(qint64 address) const;
    bool setByte(qint64 address, quint8 value);
    quint16 word(qint64 address) const;
    bool setWord(qint64 address, quint16 value);
    quint32 doubleWord(qint64 address) const;
    bool setDoubleWord(qint64 address, quint32 value);
    bool bit(qint64 bitAddress) const;
    bool setBit(qint64 bitAddress, bool on);

    // `count` bytes from `address`; the caller has checked the range.
    QByteArray read(qint64 address, int count) const;
    void write(qint64 address, const QByteArray& data);

    // --- By register name and index, through the PLC's own device map
    // (device_map.h): bit devices give 0 or 1, words 16 bits, 32CV 32 bits.
    // The index counts devices from the range's first: X10 (octal) is 8,
    // M8000 is SM 0, C200 is 32CV 0; "D_bit" index word x 16 + bit is a bit
    // of the D words. Unknown names and indexes beyond the PLC's devices
    // (M1536 up) give nullopt / false.
    std::optional<quint32> value(const QString& regName, qint64 index) const;
    bool setValue(const QString& regName, qint64 index, quint32 value);

    void clear();

private:
    static bool inSpace(qint64 address);

    std::vector<quint8> bytes_;
};
