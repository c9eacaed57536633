#pragma once

// The demo program of the virtual PLC, one call per program scan. Off unless
// the PLC's options enable it; tests keep it off so memory changes only when
// they say so. It keeps its state in device memory alone, so a host sees
// (and may overwrite) all of it:
//
//   M8000        ON (the RUN monitor relay)
//   D0           +1 per scan, wrapping from 65535 to 0
//   X0..X7       one input ON, walking up one place per scan: scan 1 X0, scan 8 X7, scan 9 X0
//   TV0 / T0     a free-running timer: TV0 +1 per scan, from 99 back to 0;
//                contact T0 ON while TV0 is 50 or more (a 100-scan blink)
//   C200         32-bit counter, +1 per scan, wrapping at 2^32

#include "device_memory.h"

#include <QtGlobal>

constexpr quint16 DemoTimerWrap = 100;      // TV0 counts 0..99
constexpr quint16 DemoTimerContactOn = 50;  // T0 ON from TV0 = 50

// `scanNumber` counts scans from 1.
void runScanProgram(DeviceMemory& memory, quint64 scanNumber);
