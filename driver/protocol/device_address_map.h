#pragma once

// Where a register index lies in the PLC's programming-port address space:
// the byte address that block reads and writes carry and the bit address
// that forces carry. The bases are columns of the register table.

#include "registers/register_types.h"

#include <QtGlobal>

// Byte address of a block read or write from register index `index`: the
// type's byte base plus index / 8 for bit types (rounding toward zero; D_bit
// blocks carry word indexes), 2 x index for words, 4 x index for 32CV.
// D100 is 0x1000 + 2 x 100 = 0x10C8. Only the low 16 bits go on the line.
qint64 byteAddressOf(const RegisterTypeInfo& type, qint64 index);

// Bit address of a force of register index `index`: force base + index
// (M100 is 0x0800 + 100 = 0x0864).
qint64 bitAddressOf(const RegisterTypeInfo& type, qint64 index);

// The host's frame trace reads the same columns under this name.
using DeviceAddressInfo = RegisterTypeInfo;
constexpr const DeviceAddressInfo& deviceAddressInfo(RegisterType type)
{
    return registerTypeInfo(type);
}
