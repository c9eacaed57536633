#include "protocol/frame_codec.h"

#include "protocol/fx_protocol.h"

quint8 sumOfBytes(const char* begin, const char* end)
{
    unsigned sum = 0;
    for (const char* p = begin; p != end; ++p)
        sum += static_cast<quint8>(*p);
    return static_cast<quint8>(sum & 0xFF);
}

quint8 frameSumCheck(const QByteArray& frame, int etxIndex)
{
    return sumOfBytes(frame.constData() + 1, frame.constData() + etxIndex + 1);
}

namespace {

// STX, command, four address digits (most significant first), two count digits.
char* putHead(char* out, char command, qint64 byteAddress, qint64 byteCount)
{
    const auto address = static_cast<quint16>(byteAddress & 0xFFFF);
    out[0] = Fx::STX;
    out[1] = command;
    putHexByte(out + 2, static_cast<quint8>(address >> 8));
    putHexByte(out + 4, static_cast<quint8>(address & 0xFF));
    putHexByte(out + 6, static_cast<quint8>(byteCount & 0xFF));
    return out + 8;
}

// ETX at `etx`, then the sum check over frame[1..etx].
void putTail(QByteArray& frame, char* etx)
{
    *etx = Fx::ETX;
    const int etxIndex = static_cast<int>(etx - frame.data());
    putHexByte(etx + 1, frameSumCheck(frame, etxIndex));
}

} // namespace

QByteArray encodeBlockRead(qint64 byteAddress, qint64 byteCount)
{
    QByteArray frame(Fx::ReadRequestLength, Qt::Uninitialized);
    char* etx = putHead(frame.data(), Fx::CommandRead, byteAddress, byteCount);
    putTail(frame, etx);
    return frame;
}

QByteArray encodeBlockWrite(qint64 byteAddress, qint64 byteCount, const QByteArray& data,
                            int dataBytes)
{
    if (dataBytes < 0)
        dataBytes = 0;
    QByteArray frame(2 * dataBytes + Fx::WriteRequestOverhead, Qt::Uninitialized);
    char* out = putHead(frame.data(), Fx::CommandWrite, byteAddress, byteCount);
    const int available = qMin(dataBytes, static_cast<int>(data.size()));
    for (int i = 0; i < dataBytes; ++i, out += 2)
        putHexByte(out, i < available ? static_cast<quint8>(data.at(i)) : 0);
    putTail(frame, out);
    return frame;
}

QByteArray encodeForce(bool on, qint64 bitAddress)
{
    const auto address = static_cast<quint16>(bitAddress & 0xFFFF);
    QByteArray frame(Fx::ForceRequestLength, Qt::Uninitialized);
    char* out = frame.data();
    out[0] = Fx::STX;
    out[1] = on ? Fx::CommandForceOn : Fx::CommandForceOff;
    putHexByte(out + 2, static_cast<quint8>(address & 0xFF));
    putHexByte(out + 4, static_cast<quint8>(address >> 8));
    putTail(frame, out + 6);
    return frame;
}
