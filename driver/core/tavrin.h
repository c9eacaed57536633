#pragma once

// The module's chief header, kept where hosts built against the source tree
// look for it; the exported interface and the shared records are declared in
// the public include/tavrin.h.
#include "../../include/tavrin.h"
