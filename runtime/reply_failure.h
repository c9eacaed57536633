#pragma once

// Why a reply failed, in the words a field engineer reads: the module's
// give-up codes say which check failed, the bytes say what the PLC did.

#include <QByteArray>
#include <QString>

enum class ReplyFailure {
    NoReply,      // nothing came before the timeout
    Refused,      // a lone NAK: the PLC refused the request
    WrongLength,  // a reply cut short, or longer than the request asks
    Garbled,      // the expected length, but not a valid ACK or data frame
};

ReplyFailure classifyReplyFailure(const QByteArray& reply, int expectedLength);

// "no reply within 70 ms", "the PLC refused the request (NAK)", "a reply of
// 4 bytes where 8 were expected", "a garbled reply (bad sum check or framing)".
QString describeReplyFailure(const QByteArray& reply, int expectedLength, int timeoutMs);
