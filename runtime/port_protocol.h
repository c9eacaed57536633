#pragma once

// The programming port's control bytes and frame sizes, as the host needs
// them to collect replies, probe a line and read its frames back: the
// module's own, from its public header.

#include "tavrin_port_bytes.h"

namespace Port = TavrinPort;
