#pragma once

// Settings shared by the line adapters (pty_line.h, tcp_line.h).

#include "line_pacing.h"

struct LineOptions {
    LinePacing pacing;      // default: unpaced, no answer delay
    int scanIntervalMs = 0; // > 0: the adapter calls VirtualPlc::runScan() this often
};
