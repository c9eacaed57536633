#pragma once

// The programming port's control bytes and frame sizes, as the host needs
// them to collect replies, probe a line and read its frames back.

namespace Port {
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ENQ = 0x05; // "is a PLC there?", answered by ACK
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CommandRead = '0';
constexpr char CommandWrite = '1';
constexpr char CommandForceOn = '7';
constexpr char CommandForceOff = '8';
constexpr int ReadRequestLength = 11;  // STX, command, 4 address, 2 count, ETX, 2 sum
constexpr int ForceRequestLength = 9;  // STX, command, 4 bit address, ETX, 2 sum
constexpr int WriteRequestOverhead = 11; // a block write of n bytes takes 2n + 11
constexpr int DataReplyOverhead = 4;   // a data reply of n bytes: STX, 2n characters, ETX, 2 sum
constexpr int MaxBlockBytes = 255;     // the count field's reach
} // namespace Port
