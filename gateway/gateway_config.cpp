#include "gateway_config.h"

namespace {

const ModbusTableRule kModbusTables[ModbusTableCount] = {
    {ModbusTable::Coil, "coil", true, true},
    {ModbusTable::DiscreteInput, "discrete_input", true, false},
    {ModbusTable::InputRegister, "input_register", false, false},
    {ModbusTable::HoldingRegister, "holding", false, true},
};

} // namespace

const ModbusTableRule* modbusTableRules()
{
    return kModbusTables;
}

const ModbusTableRule& modbusTableRule(ModbusTable table)
{
    for (const ModbusTableRule& rule : kModbusTables) {
        if (rule.table == table)
            return rule;
    }
    return kModbusTables[0]; // ModbusTable::None has no rule; callers check first
}

QString ListenAddress::text() const
{
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

int LineConfig::tagIndex(const QString& tagName) const
{
    for (int i = 0; i < tags.size(); ++i) {
        if (tags.at(i).name == tagName)
            return i;
    }
    return -1;
}

int GatewayConfig::lineIndex(const QString& lineName) const
{
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).name == lineName)
            return i;
    }
    return -1;
}
