#include "result_codes.h"

#include "tavrin.h"

namespace {
constexpr qint32 MaxHostIdOffset = 11;

bool inFamily(qint32 code, qint32 base)
{
    return code >= base && code <= base + MaxHostIdOffset;
}
} // namespace

qint32 baseResultCode(qint32 code)
{
    for (const qint32 base : {ReplyBadFrame, ReplyMissing, ReplyWrongLength}) {
        if (inFamily(code, base))
            return base;
    }
    return code;
}

QString describeResult(qint32 code)
{
    switch (baseResultCode(code)) {
    case ReplyAccepted:
        return QStringLiteral("good");
    case ReplyResend:
        return QStringLiteral("failed, will be resent");
    case ReplyBadFrame:
        return QStringLiteral("bad reply: NAK, framing or sum check (code %1)").arg(code);
    case ReplyMissing:
        return QStringLiteral("no reply (code %1)").arg(code);
    case ReplyWrongLength:
        return QStringLiteral("reply of the wrong length (code %1)").arg(code);
    default:
        break;
    }
    return QStringLiteral("unknown result (code %1)").arg(code);
}
