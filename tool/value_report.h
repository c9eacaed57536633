#pragma once

// How read and watch report a variable: as text lines ("D200 = 1.5"), as
// one JSON object, or as a CSV row. Pure: the commands gather the reports,
// these functions only render them, so they are tested without a line.

#include "value_variable.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

enum class OutputStyle { Text, Json, Csv };

// One variable's outcome: its values, or why there are none.
struct VariableReport {
    ValueVariable variable;
    QByteArray bytes;   // the module's value bytes, when good
    QString error;      // why there are no values
    QDateTime at;       // when it was seen (watch); invalid: not shown

    bool good() const { return error.isEmpty(); }
    // One text per value, when good: "1.5", "0x00FF".
    QStringList texts() const { return good() ? variable.valueTexts(bytes) : QStringList(); }
};

// "D200 = 1.5" for each value, in the spelling typed; nothing when bad.
QStringList textLines(const VariableReport& report);

// {"name": "D200@float", "register": "D", "address": "200", "format": "float",
//  "value": 1.5, "quality": "good"} on one line; "value" is an array for
// several values, and "error" stands for it when bad; "ts" when `at` is set.
QString jsonLine(const VariableReport& report);

// The CSV header and one row per variable: several values in one field,
// separated by spaces; "time" first when the reports carry it.
QString csvHeader(bool withTime);
QString csvRow(const VariableReport& report);

// 2026-12-05T10:00:00.123Z
QString isoTimestamp(const QDateTime& at);
