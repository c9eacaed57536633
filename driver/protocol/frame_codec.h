#pragma once

// Byte-level encoding of programming-port frames: hex digits, the sum check
// and the three request layouts. Pure functions, shared by the request
// builders and the reply check.

#include <QByteArray>
#include <QtGlobal>

// Upper-case hex digit of a nibble (0..15): '0'..'9', 'A'..'F'.
inline char hexDigit(unsigned nibble)
{
    nibble &= 0x0F;
    return static_cast<char>(nibble <= 9 ? nibble + 0x30 : nibble + 0x37);
}

// Writes the two hex digits of `value` at out[0], out[1], high nibble first.
inline void putHexByte(char* out, quint8 value)
{
    out[0] = hexDigit(value >> 4);
    out[1] = hexDigit(value & 0x0F);
}

// Low 8 bits of the sum of the bytes in [begin, end), as unsigned values.
quint8 sumOfBytes(const char* begin, const char* end);

// Sum check of a frame held in `frame` from index 0 (STX) to its ETX at
// `etxIndex`: the bytes from the command character through ETX are summed.
quint8 frameSumCheck(const QByteArray& frame, int etxIndex);

// Block read "0" of `byteCount` bytes at `byteAddress`: 11 bytes.
// Only the low 16 bits of the address and the low 8 bits of the count are sent.
QByteArray encodeBlockRead(qint64 byteAddress, qint64 byteCount);

// Block write "1" at `byteAddress` whose count field carries the low 8 bits
// of `byteCount` and whose data are `dataBytes` bytes of `data`, zero bytes
// where `data` is shorter: 2 x dataBytes + 11 bytes.
QByteArray encodeBlockWrite(qint64 byteAddress, qint64 byteCount, const QByteArray& data,
                            int dataBytes);

// Force ON "7" or OFF "8" of `bitAddress`, sent low byte first: 9 bytes.
QByteArray encodeForce(bool on, qint64 bitAddress);
