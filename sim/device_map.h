#pragma once

// The device memory a real FX programming port reaches, in the port's own
// terms: ranges of byte addresses for block read "0" and block write "1",
// each holding one kind of device. Forces "7"/"8" carry a bit address b,
// which is bit b % 8 of byte b / 8 of the same space (force ON Y0, bit
// address 0x0500, sets bit 0 of byte 0x00A0, where a block read finds Y0).
// Written from the port's published ranges, not from the module, so that a
// wrong address in the module reaches the wrong device here.

#include <QString>
#include <QtGlobal>

enum class DeviceElement : quint8 {
    Bits,        // eight devices to a byte, the lowest in bit 0
    Words,       // two bytes a device, low byte first
    DoubleWords, // four bytes a device, least significant first
};

struct DeviceRange {
    const char* name;  // the register name the host and its tools give the devices
    qint64 firstByte;  // byte address of the first device
    qint64 lastByte;   // byte address of the last byte of the last device
    DeviceElement element;
    bool writable;     // block write and force allowed (not the inputs X)

    qint64 bytes() const { return lastByte - firstByte + 1; }
    // Devices in the range: S0-S999 are 125 bytes of 8 bits.
    qint64 devices() const;
};

// The ranges, in ascending byte address; between them lie gaps no request reaches.
const DeviceRange* deviceRanges();
int deviceRangeCount();

// The range holding byte `address`, or null in a gap or outside the space.
const DeviceRange* deviceRangeAt(qint64 address);

// The range of a register name (exact comparison), or null. "D_bit" has no
// range of its own: its bits are those of the D words.
const DeviceRange* deviceRangeNamed(const QString& name);
