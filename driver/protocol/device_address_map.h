#pragma once

// Where each register type lives in the PLC's programming-port address
// space: the byte address that block reads and writes carry, and the bit
// address that forces carry. Shared by the request builders and the virtual PLC.

#include "registers/register_types.h"

#include <QtGlobal>

// How a queued write of the type goes on the line.
enum class WriteCommand : quint8 {
    None,          // X: inputs are driven by the hardware
    Force,         // one bit: force ON "7" / force OFF "8"
    BlockWrite,    // whole words: block write "1"
    BitOfWordPair, // D_bit: read the D word, then write it back with the bit changed
};

struct DeviceAddressInfo {
    RegisterType type;
    quint16 byteBase;    // byte address of register index 0
    int bytesPerIndex;   // 0 for bit types (8 indexes per byte), 2 for words, 4 for 32CV
    WriteCommand write;
    qint32 forceBase;    // bit address of register index 0; -1 when the type is not forced
};

const DeviceAddressInfo& deviceAddressInfo(RegisterType type);

// Byte address of a block read or write starting at register index `index`
// (bit types: index / 8 rounding toward zero; D_bit blocks carry word
// indexes). Only the low 16 bits go on the line.
qint64 byteAddressOf(RegisterType type, qint64 index);

// Bit address of a force of register index `index` (force base + index).
qint64 bitAddressOf(RegisterType type, qint64 index);
