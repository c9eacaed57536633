#pragma once

// The press line's PLC memory that the gateway's end-to-end tests start
// from, one value of every format, and how they look at it afterwards.
// The words are worked out by hand beside each value.

#include "virtual_plc.h"

#include <QVector>

inline void presetPressMemory(VirtualPlc& plc)
{
    plc.setValue(QStringLiteral("D"), 100, 42);
    plc.setValue(QStringLiteral("D"), 101, 65535);
    plc.setValue(QStringLiteral("D"), 200, 0x7960); // -100000 = 0xFFFE7960, low word first
    plc.setValue(QStringLiteral("D"), 201, 0xFFFE);
    plc.setValue(QStringLiteral("D"), 210, 0x5E00); // 3000000000 = 0xB2D05E00
    plc.setValue(QStringLiteral("D"), 211, 0xB2D0);
    plc.setValue(QStringLiteral("D"), 300, 0x0000); // 3.25 = 0x40500000
    plc.setValue(QStringLiteral("D"), 301, 0x4050);
    plc.setValue(QStringLiteral("D"), 400, 0x00FF);
    plc.setValue(QStringLiteral("M"), 0, 1);
    plc.setValue(QStringLiteral("Y"), 7, 1);
    plc.setValue(QStringLiteral("X"), 1, 1);
    plc.setValue(QStringLiteral("X"), 3, 1);
    plc.setValue(QStringLiteral("32CV"), 0, 0xFFFFFFFB); // C200 = -5
    plc.setValue(QStringLiteral("D"), 10, 0x0008);       // bit 3
    plc.setValue(QStringLiteral("D"), 500, 1);
    plc.setValue(QStringLiteral("D"), 501, 2);
    plc.setValue(QStringLiteral("D"), 502, 3);
}

// The PLC's D registers from `first` on, as 16-bit words.
inline QVector<quint32> plcWords(const VirtualPlc& plc, int first, int count)
{
    QVector<quint32> out;
    for (int k = first; k < first + count; ++k)
        out.append(plc.value(QStringLiteral("D"), k).value_or(0xFFFFFFFF));
    return out;
}

// Writes the PLC took or refused: none, when a refused write reached nothing.
inline quint64 plcWritesReceived(const VirtualPlc& plc)
{
    const VirtualPlcCounters counters = plc.counters();
    return counters.writes + counters.forces + counters.refused;
}
