#include "modbus_map.h"

#include <algorithm>

namespace {

bool before(const ModbusEntry& a, const ModbusEntry& b)
{
    return a.table != b.table ? a.table < b.table : a.first < b.first;
}

} // namespace

QVector<ModbusEntry> modbusEntries(const QVector<LineConfig>& lines)
{
    QVector<ModbusEntry> entries;
    for (int l = 0; l < lines.size(); ++l) {
        for (int t = 0; t < lines.at(l).tags.size(); ++t) {
            const TagConfig& tag = lines.at(l).tags.at(t);
            if (tag.modbus.table == ModbusTable::None)
                continue;
            const int first = tag.modbus.address;
            entries.append(ModbusEntry{tag.modbus.table, first, first + tag.modbusUnits() - 1, l, t});
        }
    }
    std::stable_sort(entries.begin(), entries.end(), before);
    return entries;
}

QString modbusRangeText(ModbusTable table, int first, int last)
{
    const QString name = QLatin1String(modbusTableRule(table).key);
    if (first == last)
        return QStringLiteral("%1 %2").arg(name).arg(first);
    return QStringLiteral("%1 %2 to %3").arg(name).arg(first).arg(last);
}

ModbusMap::ModbusMap(const QVector<LineConfig>& lines) : entries_(modbusEntries(lines)) {}

const ModbusEntry* ModbusMap::entryAt(ModbusTable table, int address) const
{
    // The last entry of the table that starts at or before the address.
    const ModbusEntry key{table, address, address, 0, 0};
    auto it = std::upper_bound(entries_.begin(), entries_.end(), key, before);
    if (it == entries_.begin())
        return nullptr;
    --it;
    if (it->table != table || address < it->first || address > it->last)
        return nullptr;
    return &*it;
}

bool ModbusMap::find(ModbusTable table, int address, int count, QVector<ModbusSpan>* spans) const
{
    spans->clear();
    if (address < 0 || count <= 0)
        return false;
    const qint64 end = qint64(address) + count; // one past the last
    for (qint64 at = address; at < end;) {
        const ModbusEntry* entry = entryAt(table, int(at));
        if (!entry)
            return false;
        const qint64 last = std::min<qint64>(entry->last, end - 1);
        spans->append(ModbusSpan{entry->line, entry->tag, int(at - entry->first), int(last - at + 1)});
        at = last + 1;
    }
    return true;
}
