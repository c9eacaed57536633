#pragma once

// A variable as the user writes it: a register name followed by its address
// (D100, X17 in octal, D10.3 for bit 3 of D10, M8000 or SM8000, D8000 or
// SD8000, T5, TV5, CV10, 32CV200), in either letter case. The host checks
// the name, the digits and the range itself, with messages that say what is
// accepted, then has the module check and convert it, then checks that the
// programming port reaches it (port_reach.h).

#include "register_kinds.h"

#include <QString>
#include <QtGlobal>

struct VariableAddress {
    QString text;       // as the user wrote it: "m8000"
    QString shownName;  // the register name as the user spelled it, in capitals: "M"
    QString regName;    // the module's register name: "SM"
    QString addrText;   // the address as the configuration editor writes it: "8000"
    qint32 index = 0;   // register index (bit, word or 32-bit counter)
    int registers = 1;  // registers covered from the index: bits, words or 32-bit counters
    const RegisterKind* type = nullptr;

    // The register `offset` registers from the first, in the user's spelling:
    // X17 + 1 is "X20", M8000 + 1 is "M8001", D10.15 + 1 is "D11.0".
    QString registerText(int offset) const;
};

// Checks `text` for `registers` registers and fills `variable`. On failure
// returns false and an error that quotes the text and says what is accepted:
// "\"D99999\": expected D0 to D7999, D8000 to D8255, or bits D0.0 to D7999.15".
bool parseVariableAddress(const QString& text, int registers, VariableAddress* variable,
                          QString* error);
