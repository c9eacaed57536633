#pragma once

#include <QtGlobal>

// Control bytes and command characters of the FX programming-port protocol.
namespace Fx {
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ENQ = 0x05;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;

constexpr char CommandRead = '0';     // block read of device memory
constexpr char CommandWrite = '1';    // block write of device memory
constexpr char CommandForceOn = '7';  // force one bit ON
constexpr char CommandForceOff = '8'; // force one bit OFF

constexpr int ReadFrameLength = 11;   // STX, cmd, 4 address, 2 count, ETX, 2 sum
constexpr int ForceFrameLength = 9;   // STX, cmd, 4 bit address, ETX, 2 sum
constexpr int WriteFrameOverhead = 11; // a block write of n bytes is 2n + 11 long
constexpr int DataReplyOverhead = 4;  // a data reply of n bytes is STX, 2n chars, ETX, 2 sum
} // namespace Fx
