#pragma once

// How the PLC's programming port writes a frame, as the virtual PLC reads
// and answers it: the control bytes, numbers as upper-case hex characters
// (most significant first), and the sum check, the low 8 bits of the sum of
// every byte after STX up to and including ETX, as two hex characters.
// "0" "10C8" "02" ETX: 0x30+0x31+0x30+0x43+0x38+0x30+0x32+0x03 = 0x171, sum "71".

#include <QByteArray>
#include <QtGlobal>

namespace PortCodec {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ENQ = 0x05;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;

constexpr char BlockRead = '0';
constexpr char BlockWrite = '1';
constexpr char ForceOn = '7';
constexpr char ForceOff = '8';

// Value of one upper-case hex character, or -1 for any other character
// (the port does not take lower-case digits).
int hexValue(char c);

// `value` as `digits` upper-case hex characters, most significant first.
QByteArray hexText(quint32 value, int digits);

// The two sum characters over `bytes`, the frame from the byte after STX
// up to and including ETX.
QByteArray sumText(const QByteArray& bytes);

} // namespace PortCodec
