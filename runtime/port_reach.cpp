#include "port_reach.h"

#include <algorithm>

namespace {

// Where the port's commands for `index` land instead: a force reaches the
// bit at force base + index, a block read or write the byte at byte base +
// index / 8; the name of whatever device lies there, or empty.
QString landing(const RegisterKind& kind, qint64 index)
{
    if (kind.forceBase >= 0)
        return registerAtBit(kind.forceBase + index);
    return registerAtByte(kind.byteBase + (kind.readInBytes() ? index / 8 : index * kind.unitBytes));
}

} // namespace

QString portReachError(const VariableAddress& variable)
{
    if (!variable.type)
        return {};
    const RegisterKind& kind = *variable.type;
    if (qint64(variable.index) + variable.registers <= kind.reachable)
        return {};
    const qint64 firstOut = std::max<qint64>(variable.index, kind.reachable);
    const QString asked = plcRegisterText(kind, firstOut);
    const QString lands = landing(kind, firstOut);
    return QStringLiteral("out of the programming port's reach (%1 to %2): %3")
        .arg(plcRegisterText(kind, 0), plcRegisterText(kind, kind.reachable - 1),
             lands.isEmpty() ? QStringLiteral("the PLC refuses a request for %1").arg(asked)
                             : QStringLiteral("a request for %1 would act on %2 instead").arg(asked, lands));
}
