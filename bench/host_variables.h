#pragma once

// Host variable sets for the benchmarks: the sample screen of the line
// measurement and large mixed sets for the read list rebuild.

#include "tavrin.h"

#include <QList>
#include <QString>

// One variable of a screen as a configuration editor records it: register
// name, address text, register index and length in elements of its type.
HostVarDef hostVariable(const QString& regName, const QString& addrText, qint32 addr,
                        qint32 length);

// A realistic operator screen of a few hundred variables of every register
// type: status words and set points in runs of data registers with gaps,
// 32-bit values, bits of data registers, lamps and buttons on relays,
// inputs and outputs, timers and counters with their current values, and
// the special relays and registers a status bar shows.
QList<HostVarDef> sampleScreen();

// `count` variables of mixed types at addresses spread over each type's
// whole range, mostly single elements with some runs; the same list for
// the same seed.
QList<HostVarDef> mixedHostVariables(int count, unsigned seed);
