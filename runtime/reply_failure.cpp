#include "reply_failure.h"

#include "port_protocol.h"

ReplyFailure classifyReplyFailure(const QByteArray& reply, int expectedLength)
{
    if (reply.isEmpty())
        return ReplyFailure::NoReply;
    // A NAK ends a reply at once whatever the request expected (a read of
    // 8 characters gets the one byte 0x15 when the PLC refuses it).
    if (reply.size() == 1 && reply.at(0) == Port::NAK)
        return ReplyFailure::Refused;
    if (reply.size() != expectedLength)
        return ReplyFailure::WrongLength;
    return ReplyFailure::Garbled;
}

QString describeReplyFailure(const QByteArray& reply, int expectedLength, int timeoutMs)
{
    switch (classifyReplyFailure(reply, expectedLength)) {
    case ReplyFailure::NoReply:
        return QStringLiteral("no reply within %1 ms").arg(timeoutMs);
    case ReplyFailure::Refused:
        return QStringLiteral("the PLC refused the request (NAK)");
    case ReplyFailure::WrongLength:
        return QStringLiteral("a reply of %1 bytes where %2 were expected").arg(reply.size()).arg(expectedLength);
    case ReplyFailure::Garbled:
        break;
    }
    return QStringLiteral("a garbled reply (bad sum check or framing)");
}
