#pragma once

// The few frames the runtime builds and checks itself, beside the module's:
// the read it probes a line with, and the sum check of a data reply.

#include <QByteArray>
#include <QtGlobal>

// Byte address of D0 in the port's map: every FX model has D0 to D7, so a
// read of up to 16 bytes there is answered by any PLC on the line.
constexpr quint16 ProbeByteAddress = 0x1000;

// "<STX>0" + 4 hex address + 2 hex count + "<ETX>" + sum: a read of 2 bytes
// at 0x1000 is <STX>0100002<ETX>56: 5 x 0x30 + 0x31 + 0x32 + ETX 0x03 = 0x156.
QByteArray readRequestFrame(quint16 byteAddress, int bytes);

// The low byte of the sum of `bytes`, as two upper-case hexadecimal characters.
QByteArray frameSum(const QByteArray& bytes);

// A data reply's framing and sum: STX, characters, ETX, and the sum from the
// byte after STX through ETX.
bool frameSumHolds(const QByteArray& frame);
