#include "frame_trace.h"

#include "port_protocol.h"
#include "register_kinds.h"
#include "request_decoder.h"

namespace {

const char* controlName(char c)
{
    switch (c) {
    case Port::STX:
        return "<STX>";
    case Port::ETX:
        return "<ETX>";
    case Port::ENQ:
        return "<ENQ>";
    case Port::ACK:
        return "<ACK>";
    case Port::NAK:
        return "<NAK>";
    default:
        return nullptr;
    }
}

QString hex4(qint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

QString deviceName(const QString& name)
{
    return name.isEmpty() ? QStringLiteral("no device") : name;
}

} // namespace

QString hexBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

QString frameText(const QByteArray& bytes)
{
    QString text;
    for (const char c : bytes) {
        if (const char* name = controlName(c))
            text += QLatin1String(name);
        else if (c >= 0x20 && c < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("<%1>").arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString describeRequest(const QByteArray& frame)
{
    const DecodedRequest request = decodeRequest(frame);
    using Kind = DecodedRequest::Kind;
    switch (request.kind) {
    case Kind::Enquiry:
        return QStringLiteral("ENQ (is a PLC there?)");
    case Kind::BlockRead:
    case Kind::BlockWrite: {
        const QString bytes = request.byteCount == 1 ? QStringLiteral("1 byte")
                                                     : QStringLiteral("%1 bytes").arg(request.byteCount);
        QString text = QStringLiteral("%1 %2 at %3 (%4)")
                           .arg(request.kind == Kind::BlockRead ? QStringLiteral("read") : QStringLiteral("write"),
                                bytes, hex4(request.address), deviceName(registerAtByte(request.address)));
        if (request.kind == Kind::BlockWrite)
            text += QStringLiteral(": ") + QString::fromLatin1(request.data.toHex()).toUpper();
        return text;
    }
    case Kind::ForceOn:
    case Kind::ForceOff:
        return QStringLiteral("force %1 bit %2 (%3)")
            .arg(request.kind == Kind::ForceOn ? QStringLiteral("ON") : QStringLiteral("OFF"), hex4(request.address),
                 deviceName(registerAtBit(request.address)));
    case Kind::Invalid:
        break;
    }
    return QStringLiteral("not a valid request: ") + request.problem;
}

QString describeReply(const QByteArray& reply)
{
    if (reply.isEmpty())
        return QStringLiteral("no reply");
    if (reply.size() == 1 && reply.at(0) == Port::ACK)
        return QStringLiteral("ACK");
    if (reply.size() == 1 && reply.at(0) == Port::NAK)
        return QStringLiteral("NAK");
    if (reply.size() >= 6 && reply.at(0) == Port::STX && reply.at(reply.size() - 3) == Port::ETX)
    {
        const int bytes = static_cast<int>(reply.size() - Port::DataReplyOverhead) / 2;
        return bytes == 1 ? QStringLiteral("data 1 byte") : QStringLiteral("data %1 bytes").arg(bytes);
    }
    return QStringLiteral("%1 bytes, not a whole reply").arg(reply.size());
}
