#include "frame_trace.h"

#include "protocol/device_address_map.h"
#include "protocol/frame_codec.h"
#include "protocol/fx_protocol.h"
#include "registers/register_types.h"

namespace {

const char* controlName(char c)
{
    switch (c) {
    case Fx::STX:
        return "<STX>";
    case Fx::ETX:
        return "<ETX>";
    case Fx::ENQ:
        return "<ENQ>";
    case Fx::ACK:
        return "<ACK>";
    case Fx::NAK:
        return "<NAK>";
    default:
        return nullptr;
    }
}

// Value of `digits` hex characters from `at`; -1 when one is not a hex digit.
qint64 hexField(const QByteArray& frame, int at, int digits)
{
    if (at < 0 || at + digits > frame.size())
        return -1;
    bool ok = false;
    const qint64 value = frame.mid(at, digits).toLongLong(&ok, 16);
    return ok ? value : -1;
}

// Register text of an index in the type's own notation: X/Y octal, the
// special ranges from 8000, the 32-bit counters from 200.
QString registerText(const RegisterTypeInfo& info, qint64 index)
{
    const qint64 number = index + info.numberOffset;
    return QLatin1String(info.name) + QString::number(number, info.numberBase);
}

// The register a byte address lies in: the area with the highest base at or
// below the address that still holds it, so that M's flat range gives way to
// the counter contacts and the special relays that lie inside it.
QString registerAtByte(qint64 address)
{
    const DeviceAddressInfo* best = nullptr;
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const RegisterTypeInfo& info = registerTypeTable()[i];
        if (info.type == RegisterType::DBit)
            continue;
        const DeviceAddressInfo& map = deviceAddressInfo(info.type);
        const qint64 span = map.bytesPerIndex == 0 ? (info.registerCount + 7) / 8
                                                   : qint64(info.registerCount) * map.bytesPerIndex;
        if (address >= map.byteBase && address < map.byteBase + span
            && (!best || map.byteBase > best->byteBase))
            best = &map;
    }
    if (!best)
        return QStringLiteral("no device");
    const RegisterTypeInfo& info = registerTypeInfo(best->type);
    const qint64 offset = address - best->byteBase;
    const qint64 index = best->bytesPerIndex == 0 ? offset * 8 : offset / best->bytesPerIndex;
    return registerText(info, index);
}

QString registerAtBit(qint64 bitAddress)
{
    const DeviceAddressInfo* best = nullptr;
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const DeviceAddressInfo& map = deviceAddressInfo(registerTypeTable()[i].type);
        if (map.forceBase < 0)
            continue;
        const qint64 count = registerTypeTable()[i].registerCount;
        if (bitAddress >= map.forceBase && bitAddress < map.forceBase + count
            && (!best || map.forceBase > best->forceBase))
            best = &map;
    }
    if (!best)
        return QStringLiteral("no device");
    return registerText(registerTypeInfo(best->type), bitAddress - best->forceBase);
}

QString hex4(qint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(4, QLatin1Char('0'));
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
    if (frame.size() == 1 && frame.at(0) == Fx::ENQ)
        return QStringLiteral("ENQ (is a PLC there?)");
    if (frame.size() < Fx::ForceFrameLength || frame.at(0) != Fx::STX)
        return QStringLiteral("not a request frame");
    const char command = frame.at(1);
    if (command == Fx::CommandRead || command == Fx::CommandWrite) {
        const qint64 address = hexField(frame, 2, 4);
        const qint64 count = hexField(frame, 6, 2);
        if (address < 0 || count < 0)
            return QStringLiteral("malformed block request");
        const QString verb = command == Fx::CommandRead ? QStringLiteral("read") : QStringLiteral("write");
        const QString bytes = count == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(count);
        QString text = QStringLiteral("%1 %2 at %3 (%4)").arg(verb, bytes, hex4(address), registerAtByte(address));
        if (command == Fx::CommandWrite)
            text += QStringLiteral(": ") + QString::fromLatin1(frame.mid(8, static_cast<int>(2 * count)));
        return text;
    }
    if (command == Fx::CommandForceOn || command == Fx::CommandForceOff) {
        const qint64 low = hexField(frame, 2, 2);
        const qint64 high = hexField(frame, 4, 2);
        if (low < 0 || high < 0)
            return QStringLiteral("malformed force");
        const qint64 bit = high * 256 + low;
        return QStringLiteral("force %1 bit %2 (%3)")
            .arg(command == Fx::CommandForceOn ? QStringLiteral("ON") : QStringLiteral("OFF"), hex4(bit), registerAtBit(bit));
    }
    return QStringLiteral("unknown command '%1'").arg(QLatin1Char(command));
}

QString describeReply(const QByteArray& reply)
{
    if (reply.isEmpty())
        return QStringLiteral("no reply");
    if (reply.size() == 1 && reply.at(0) == Fx::ACK)
        return QStringLiteral("ACK");
    if (reply.size() == 1 && reply.at(0) == Fx::NAK)
        return QStringLiteral("NAK");
    if (reply.size() >= 6 && reply.at(0) == Fx::STX && reply.at(reply.size() - 3) == Fx::ETX)
        return QStringLiteral("data %1 bytes").arg((reply.size() - Fx::DataReplyOverhead) / 2);
    return QStringLiteral("%1 bytes, not a whole reply").arg(reply.size());
}
