#include "port_frames.h"

#include "port_protocol.h"

QByteArray frameSum(const QByteArray& bytes)
{
    unsigned sum = 0;
    for (const char byte : bytes)
        sum += static_cast<unsigned char>(byte);
    return QByteArray::number(sum & 0xFF, 16).toUpper().rightJustified(2, '0');
}

QByteArray readRequestFrame(quint16 byteAddress, int bytes)
{
    QByteArray body(1, Port::CommandRead);
    body += QByteArray::number(byteAddress, 16).toUpper().rightJustified(4, '0');
    body += QByteArray::number(bytes & 0xFF, 16).toUpper().rightJustified(2, '0');
    body += Port::ETX;
    return QByteArray(1, Port::STX) + body + frameSum(body);
}

bool frameSumHolds(const QByteArray& frame)
{
    const qsizetype n = frame.size();
    if (n < Port::DataReplyOverhead || frame.at(0) != Port::STX || frame.at(n - 3) != Port::ETX)
        return false;
    return frame.mid(n - 2) == frameSum(frame.mid(1, n - 3));
}
