#pragma once

// The device areas of the virtual PLC: which byte addresses block reads and
// writes reach and which bit addresses forces reach. Derived from the shared
// device address map (byte base, force base) and register table (element
// count), so there is no second map; only the PLC's own limits are added here.

#include "registers/register_types.h"

#include <QVector>
#include <QtGlobal>

struct DeviceArea {
    RegisterType type;
    qint64 firstByte;    // byte address of element 0
    qint64 byteCount;    // bytes the area spans
    qint64 elementCount; // devices of the type the PLC holds
    bool writable;       // block write and force allowed (false for the inputs X)
    qint64 firstBit;     // bit address of element 0 for forces; -1 when the type is not forced
};

// One area per register type except D_bit, whose bytes are those of D.
// Ordered by register type.
const QVector<DeviceArea>& deviceAreas();

// The area a register type lives in (D_bit gives the D area).
const DeviceArea& deviceAreaOf(RegisterType type);

// Auxiliary relays the programming port reaches from byte address 0x0100:
// M0 to M1535 (192 bytes, up to 0x01BF). M1536 up would land on the counter
// contacts at 0x01C0, and a real port addresses the higher relays elsewhere.
constexpr qint64 PortAuxiliaryRelayCount = 1536;
