#pragma once

#include "tavrin_port_bytes.h"

// Control bytes and command characters of the FX programming-port protocol,
// from the public header a host reads too, and the frame sizes they make.
namespace Fx {
using TavrinPort::ACK;
using TavrinPort::ENQ;
using TavrinPort::ETX;
using TavrinPort::NAK;
using TavrinPort::STX;

using TavrinPort::CommandForceOff;
using TavrinPort::CommandForceOn;
using TavrinPort::CommandRead;
using TavrinPort::CommandWrite;

constexpr int ReadFrameLength = 11;   // STX, cmd, 4 address, 2 count, ETX, 2 sum
constexpr int ForceFrameLength = 9;   // STX, cmd, 4 bit address, ETX, 2 sum
constexpr int WriteFrameOverhead = 11; // a block write of n bytes is 2n + 11 long
constexpr int DataReplyOverhead = 4;  // a data reply of n bytes is STX, 2n chars, ETX, 2 sum
} // namespace Fx
