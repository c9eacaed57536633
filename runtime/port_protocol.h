#pragma once

// The programming port's control bytes and frame sizes, as the host needs
// them to collect replies, probe a line and read its frames back. The bytes
// are the module's own, from its public header.

#include "tavrin_port_bytes.h"

namespace Port {
using TavrinPort::ACK;
using TavrinPort::ENQ; // "is a PLC there?", answered by ACK
using TavrinPort::ETX;
using TavrinPort::NAK;
using TavrinPort::STX;
using TavrinPort::CommandForceOff;
using TavrinPort::CommandForceOn;
using TavrinPort::CommandRead;
using TavrinPort::CommandWrite;
constexpr int ReadRequestLength = 11;  // STX, command, 4 address, 2 count, ETX, 2 sum
constexpr int ForceRequestLength = 9;  // STX, command, 4 bit address, ETX, 2 sum
constexpr int WriteRequestOverhead = 11; // a block write of n bytes takes 2n + 11
constexpr int DataReplyOverhead = 4;   // a data reply of n bytes: STX, 2n characters, ETX, 2 sum
constexpr int MaxBlockBytes = 255;     // the count field's reach
} // namespace Port
