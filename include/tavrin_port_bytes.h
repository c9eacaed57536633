#pragma once

// The control bytes and command characters of the FX programming port, as
// they go on the line. The module builds its requests from them; a host that
// owns the line needs them too: a reply is complete at ReplyLength bytes or
// at a lone NAK (a refused request), and ENQ asks whether a PLC is there (a
// PLC answers ACK); the frame sizes follow from them. Constants only: no Qt, nothing to link.

namespace TavrinPort {
constexpr char STX = 0x02; // opens a request or a data reply
constexpr char ETX = 0x03; // closes it; the two sum characters follow
constexpr char ENQ = 0x05; // "is a PLC there?", answered by ACK
constexpr char ACK = 0x06; // a write or force done, or a PLC there
constexpr char NAK = 0x15; // a request refused, or broken on the way

constexpr char CommandRead = '0';     // block read of device memory
constexpr char CommandWrite = '1';    // block write of device memory
constexpr char CommandForceOn = '7';  // force one bit ON
constexpr char CommandForceOff = '8'; // force one bit OFF

constexpr int ReadRequestLength = 11;    // STX, command, 4 address, 2 count, ETX, 2 sum
constexpr int ForceRequestLength = 9;    // STX, command, 4 bit address, ETX, 2 sum
constexpr int WriteRequestOverhead = 11; // a block write of n bytes takes 2n + 11
constexpr int DataReplyOverhead = 4;     // a data reply of n bytes: STX, 2n characters, ETX, 2 sum
constexpr int MaxBlockBytes = 255;       // the count field's reach
} // namespace TavrinPort
