#include "request_decoder.h"

#include "port_protocol.h"

namespace {

// Value of `digits` upper-case hex characters from `at`, or -1.
qint64 hexField(const QByteArray& frame, int at, int digits)
{
    qint64 value = 0;
    for (int i = at; i < at + digits; ++i) {
        const char c = frame.at(i);
        const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (nibble < 0)
            return -1;
        value = value * 16 + nibble;
    }
    return value;
}

DecodedRequest invalid(const QString& problem)
{
    DecodedRequest request;
    request.problem = problem;
    return request;
}

// Checks STX, the ETX at `etxIndex`, the two sum characters after it and
// the frame's length; empty when all are right.
QString framingProblem(const QByteArray& frame, int etxIndex)
{
    if (frame.size() != etxIndex + 3)
        return QStringLiteral("%1 bytes where the command calls for %2").arg(frame.size()).arg(etxIndex + 3);
    if (frame.at(etxIndex) != Port::ETX)
        return QStringLiteral("no ETX at byte %1").arg(etxIndex);
    if (hexField(frame, etxIndex + 1, 2) != frameSum(frame, etxIndex))
        return QStringLiteral("sum check %1 where %2 is due")
            .arg(QString::fromLatin1(frame.mid(etxIndex + 1, 2)),
                 QString::number(frameSum(frame, etxIndex), 16).toUpper().rightJustified(2, QLatin1Char('0')));
    return {};
}

DecodedRequest decodeBlock(const QByteArray& frame)
{
    DecodedRequest request;
    const bool write = frame.at(1) == Port::CommandWrite;
    request.kind = write ? DecodedRequest::Kind::BlockWrite : DecodedRequest::Kind::BlockRead;
    if (frame.size() < Port::ReadRequestLength)
        return invalid(QStringLiteral("a block request of %1 bytes").arg(frame.size()));
    request.address = hexField(frame, 2, 4);
    const qint64 count = hexField(frame, 6, 2);
    if (request.address < 0 || count < 0)
        return invalid(QStringLiteral("address or count not in upper-case hex"));
    request.byteCount = static_cast<int>(count);
    const int dataChars = write ? 2 * request.byteCount : 0;
    const QString problem = framingProblem(frame, 8 + dataChars);
    if (!problem.isEmpty())
        return invalid(problem);
    for (int i = 0; i < dataChars; i += 2) {
        const qint64 byte = hexField(frame, 8 + i, 2);
        if (byte < 0)
            return invalid(QStringLiteral("data not in upper-case hex"));
        request.data.append(static_cast<char>(byte));
    }
    return request;
}

DecodedRequest decodeForce(const QByteArray& frame)
{
    if (frame.size() < Port::ForceRequestLength)
        return invalid(QStringLiteral("a force of %1 bytes").arg(frame.size()));
    // The bit address goes low byte first: "0005" is 0x0500.
    const qint64 low = hexField(frame, 2, 2);
    const qint64 high = hexField(frame, 4, 2);
    if (low < 0 || high < 0)
        return invalid(QStringLiteral("bit address not in upper-case hex"));
    const QString problem = framingProblem(frame, 6);
    if (!problem.isEmpty())
        return invalid(problem);
    DecodedRequest request;
    request.kind = frame.at(1) == Port::CommandForceOn ? DecodedRequest::Kind::ForceOn : DecodedRequest::Kind::ForceOff;
    request.address = high * 256 + low;
    return request;
}

} // namespace

quint8 frameSum(const QByteArray& frame, int etxIndex)
{
    unsigned sum = 0;
    for (int i = 1; i <= etxIndex && i < frame.size(); ++i)
        sum += static_cast<quint8>(frame.at(i));
    return static_cast<quint8>(sum & 0xFF);
}

DecodedRequest decodeRequest(const QByteArray& frame)
{
    if (frame.size() == 1 && frame.at(0) == Port::ENQ) {
        DecodedRequest request;
        request.kind = DecodedRequest::Kind::Enquiry;
        return request;
    }
    if (frame.size() < 2 || frame.at(0) != Port::STX)
        return invalid(QStringLiteral("no STX"));
    switch (frame.at(1)) {
    case Port::CommandRead:
    case Port::CommandWrite:
        return decodeBlock(frame);
    case Port::CommandForceOn:
    case Port::CommandForceOff:
        return decodeForce(frame);
    default:
        break;
    }
    return invalid(QStringLiteral("unknown command '%1'").arg(QLatin1Char(frame.at(1))));
}
