#pragma once

// A value as the PLC holds it: the module's value bytes (value_format.h)
// with what they are, so that each consumer takes the form it needs: JSON
// (value_json.h) for MQTT, the web API and the tool, a number for history
// and trends, and the bytes themselves for Modbus registers and Sparkplug.

#include "value_json.h"

#include <optional>

struct TypedValue {
    ValueFormat format = ValueFormat::Int16;
    ElementKind element = ElementKind::Word;
    int count = 0;    // values held; 0: none
    QByteArray bytes; // count x bytesPerValue(format, element)

    bool isNull() const { return count == 0; }
    // The value's one JSON form: a value, an array for more than one, null for none.
    QJsonValue json() const;
    // A single bit (0 or 1) or number; none for hex, several values, a float
    // JSON cannot carry, or no value.
    std::optional<double> number() const;
};
