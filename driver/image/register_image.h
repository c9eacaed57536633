#pragma once

// The driver's local copy of PLC device memory: one fixed area per register
// type, all zero at load, never cleared. Bit areas pack eight bits to a byte
// (register index i is bit i mod 8 of byte i / 8, bit 0 least significant),
// which is also how the PLC returns bit devices. The D area serves both "D"
// and "D_bit" (bit b of D w is bit b of word w). Some bit areas have spare
// bytes beyond the elements they serve; they belong to the area.

#include <QtGlobal>

struct RegisterImage {
    quint8 X[33] = {};     // 256 inputs
    quint8 Y[33] = {};     // 256 outputs
    quint8 M[1000] = {};   // 8000 auxiliary relays
    quint8 S[150] = {};    // 1000 states
    quint8 SM[40] = {};    // 256 special relays (M8000 up)
    quint8 T[40] = {};     // 256 timer contacts
    quint8 C[40] = {};     // 256 counter contacts
    quint16 D[8000] = {};  // data registers; also the D_bit bits
    quint16 SD[256] = {};  // special data registers (D8000 up)
    quint16 TV[256] = {};  // timer current values
    quint16 CV[200] = {};  // 16-bit counter current values
    quint32 CV32[56] = {}; // 32-bit counter current values (C200 up)
};
