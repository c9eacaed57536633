#pragma once

// A variable as the tool's commands take it: ADDR, ADDR:COUNT for COUNT
// values from ADDR on, ADDR@FORMAT for a format of its own (D200@float,
// D0@hex:4), checked and planned before anything is sent.

#include "value_format.h"
#include "variable_address.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct ValueVariable {
    QString typed;             // the whole text as typed: "d200@float:2"
    VariableAddress address;   // all the registers the values cover
    ValueFormat format = ValueFormat::Int16;
    int values = 1;

    // Registers one value takes (2 for a float in D words).
    int registersPerValue() const;
    // The register value k starts at, in the user's spelling: "D200", "D202".
    QString registerText(int value) const;
    // The values' texts from the module's value bytes: "1.5", "-2".
    QStringList valueTexts(const QByteArray& bytes) const;
};

// The format that applies where a variable names none: the command's
// --format, or the register's own default when it has none.
struct FormatChoice {
    ValueFormat format = ValueFormat::Int16;
    bool given = false;
};

// Parses "ADDR[@FORMAT][:COUNT]" (":COUNT" only where `allowCount`). False
// with a message that quotes the text and says what is accepted.
bool parseValueVariable(const QString& text, FormatChoice choice, bool allowCount, ValueVariable* variable,
                        QString* error);
