#pragma once

// A variable as the user writes it: a register name of the module followed by
// its address as the configuration editor writes it (D100, X17 in octal,
// D10.3 for bit 3 of D10, SM8000, SD8000, T5, TV5, CV10, 32CV200), with the
// PLC's own spellings M8000 and D8000 accepted for the special ranges.

#include "register_kinds.h"

#include <QString>
#include <QtGlobal>

struct VariableAddress {
    QString text;       // as the user wrote it: "M8000"
    QString regName;    // the module's register name: "SM"
    QString addrText;   // the address as the configuration editor writes it: "8000"
    qint32 index = 0;   // register index (bit, word or 32-bit counter)
    int registers = 1;  // registers covered from the index: bits, words or 32-bit counters
    const RegisterKind* type = nullptr;

    // The register in the module's notation at `offset` registers from the
    // first: X17 + 1 is "X20", D10.15 + 1 is "D11.00". Offsets run through
    // the module's AddrMutilCopy, which writes each type's own notation.
    QString registerText(int offset) const;
};

// Splits the text into register name and address, checks the pair for
// `registers` registers with the module's CheckAddrCorrect, converts it with
// AddrStringToInt and checks that the programming port reaches it
// (port_reach.h). On failure returns false and an error that quotes the text
// and the module's own message or the reach.
bool parseVariableAddress(const QString& text, int registers, VariableAddress* variable,
                          QString* error);
