#pragma once

// Byte-level encoding of programming-port frames: hex digits, the sum check
// and the three request layouts. Pure functions, shared by the request
// builders, the reply checker and the virtual PLC.

#include <QByteArray>
#include <QtGlobal>

// Upper-case hex digit of a nibble (0..15): '0'..'9', 'A'..'F'.
inline char hexDigit(unsigned nibble)
{
    nibble &= 0x0F;
    return static_cast<char>(nibble <= 9 ? nibble + 0x30 : nibble + 0x37);
}

// Value of a reply character as the decoders read it: below '0' gives 0,
// '0'..'?' give 0..15, '@' gives 0, above '@' gives (c - 55) mod 16, so
// 'A'..'F' and 'a'..'f' both give 10..15 (and 'G' gives 0).
inline quint8 hexDigitValue(quint8 c)
{
    if (c < 48 || c == 64)
        return 0;
    if (c <= 63)
        return static_cast<quint8>(c - 48);
    return static_cast<quint8>((c - 55) % 16);
}

// One byte from two reply characters, high character first.
inline quint8 hexByteValue(quint8 high, quint8 low)
{
    return static_cast<quint8>(16 * hexDigitValue(high) + hexDigitValue(low));
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
