#include "port_codec.h"

namespace PortCodec {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray hexText(quint32 value, int digits)
{
    static const char Digits[] = "0123456789ABCDEF";
    QByteArray text(digits, '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[i] = Digits[value & 0x0F];
    return text;
}

QByteArray sumText(const QByteArray& bytes)
{
    quint32 sum = 0;
    for (char c : bytes)
        sum += static_cast<quint8>(c);
    return hexText(sum & 0xFF, 2);
}

} // namespace PortCodec
