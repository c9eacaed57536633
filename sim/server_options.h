#pragma once

// Settings of the virtual PLC's servers (pty_server.h, tcp_server.h).

#include "line_pacing.h"

struct ServerOptions {
    LinePacing pacing;      // default: unpaced, no answer delay
    int scanIntervalMs = 0; // > 0: the server calls VirtualPlc::runScan() this often
};
