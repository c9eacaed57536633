#pragma once

// Control bytes, command characters and frame sizes of the FX programming
// port, from the public header a host reads too.

#include "tavrin_port_bytes.h"

namespace Fx = TavrinPort;
