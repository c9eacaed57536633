#pragma once

// Which registers the programming port's block read, block write and force
// commands reach. The module addresses M by the classic map (byte 0x0100 +
// index / 8, force bit 0x0800 + index) for all of M0 to M7999, but only M0
// to M1535 lie there: the bytes after them hold the counter contacts C0 to
// C255 (0x01C0) and M8000 to M8255 (0x01E0), and a PLC does not refuse a
// request that lands on them. Every other register the module accepts lies
// where its requests go, the reads' whole bytes and words included.

#include "variable_address.h"

#include <QString>

// Empty when every register of the variable is in reach; else why not, in
// words that name the reachable range: "out of the programming port's reach
// (M0 to M1535): a request for M1826 would act on M8034 instead".
QString portReachError(const VariableAddress& variable);
