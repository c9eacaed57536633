#pragma once

// tavrin watch, its rendering: what to print of a variable when its values
// or its quality change, kept apart from the polling so it is tested alone.

#include "polled_quality.h"
#include "value_report.h"

#include <QStringList>

// What the watch last printed of a variable.
struct WatchShown {
    Quality quality = Quality::Waiting;
    QStringList values;
    QString error;
};

// The lines to print for a variable's latest state, and the state now shown:
// its values once it is read (again after it was bad), each value that
// changes (text) or the whole variable when any value changes (JSON, CSV),
// and its own error once, unless `lineUp` is false: a line in trouble has
// said so itself.
QStringList watchLines(const VariableReport& now, Quality quality, bool lineUp, OutputStyle style,
                       WatchShown* shown);
