#pragma once

// The thirteen register kinds as a host knows them: from the module's
// contract (names, index ranges, what an index addresses) and from the
// programming port's device map (where each kind lies, which commands reach
// it). One row per kind, read by address parsing, value formats, the reach
// guard, the polled quality, the read planner and the frame trace. It is the
// host's own table: a host sees only the module's public header.

#include <QString>
#include <QtGlobal>

enum class RegisterKindId : quint8 { X, Y, M, SM, S, T, C, D, DBit, SD, TV, CV, CV32 };

// What one register index addresses.
enum class ElementKind : quint8 { Bit, Word, DoubleWord };

struct RegisterKind {
    RegisterKindId id;
    const char* name;      // the module's register name: "X", ..., "D_bit", "32CV"
    ElementKind element;
    const char* area;      // the device area its reads and writes go to: "D" for D_bit
    int numberBase;        // of the address as written: 8 for X and Y
    qint32 numberOffset;   // the written number minus the index: 8000 for SM and SD, 200 for 32CV
    qint32 registers;      // indexes the module accepts: 256 for X, 128000 for D_bit
    qint32 reachable;      // of them, from index 0, the ones the port reaches: 1536 for M
    qint32 byteBase;       // byte address of index 0 in the port's map (D_bit: that of D0)
    int unitBytes;         // bytes one unit of its reads takes: 0 for bits (8 to a byte),
                           // 2 for words (D_bit too), 4 for 32-bit counters
    qint32 forceBase;      // bit address of index 0 for a force; -1 when not forced
    bool writable;         // false for the inputs X

    // CheckAddrCorrect's address type: 0 for a bit variable, 1 for a word.
    qint32 addressType() const { return element == ElementKind::Bit ? 0 : 1; }
    // Bit kinds are read in whole bytes; D_bit in the D words that hold them.
    bool readInBytes() const { return unitBytes == 0; }
};

constexpr int RegisterKindCount = 13;

// The table, in the module's order: X, Y, M, SM, S, T, C, D, D_bit, SD, TV, CV, 32CV.
const RegisterKind* registerKinds();
const RegisterKind& registerKind(RegisterKindId id);
// The row whose name equals `name` exactly, or null.
const RegisterKind* findRegisterKind(const QString& name);

// The register at a byte address of the port's map ("C5" for 0x01C0 bit 5
// is not a thing: bytes hold 8 bits, so 0x01C0 gives "C0"), or "" when no
// device lies there; and the register a force's bit address reaches.
QString registerAtByte(qint64 byteAddress);
QString registerAtBit(qint64 bitAddress);

// The register in the PLC's own spelling: "X17", "M8000" for SM index 0,
// "D8001" for SD index 1, "C200" for 32CV index 0.
QString plcRegisterText(const RegisterKind& kind, qint64 index);
