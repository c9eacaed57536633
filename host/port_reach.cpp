#include "port_reach.h"

#include <algorithm>

namespace {

// M relays in reach, and what lies where the classic map puts the ones after
// them: 256 counter contacts, then M8000 to M8255, then no device at all.
constexpr qint32 ReachableAuxiliaryRelays = 1536;
constexpr qint32 CounterContacts = 256;
constexpr qint32 SpecialRelays = 256;

QString auxiliaryRelayLanding(qint32 index)
{
    const qint32 past = index - ReachableAuxiliaryRelays;
    if (past < CounterContacts)
        return QStringLiteral("a request for M%1 would act on the counter contact C%2 instead").arg(index).arg(past);
    if (past < CounterContacts + SpecialRelays)
        return QStringLiteral("a request for M%1 would act on M%2 instead").arg(index).arg(8000 + past - CounterContacts);
    return QStringLiteral("the PLC refuses a request for M%1").arg(index);
}

} // namespace

qint32 reachableRegisters(const RegisterTypeInfo& type)
{
    return type.type == RegisterType::M ? ReachableAuxiliaryRelays : type.registerCount;
}

QString portReachError(const VariableAddress& variable)
{
    if (!variable.type)
        return {};
    const qint32 reachable = reachableRegisters(*variable.type);
    if (qint64(variable.index) + variable.registers <= reachable)
        return {};
    const qint32 firstOut = std::max(variable.index, reachable);
    return QStringLiteral("out of the programming port's reach (M0 to M%1): %2")
        .arg(reachable - 1)
        .arg(auxiliaryRelayLanding(firstOut));
}
