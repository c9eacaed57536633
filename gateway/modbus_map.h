#pragma once

// Where the mapped tags lie in the four Modbus tables, and which tags a
// client's request covers. Addresses are zero-based PDU addresses, as the
// configuration gives them: "holding: 100" is the register a client reads
// with address 100 on the wire (many clients show it as 40101).

#include "gateway_config.h"

#include <QString>
#include <QVector>

struct ModbusEntry {
    ModbusTable table = ModbusTable::None;
    int first = 0;   // its first bit or register
    int last = 0;    // its last
    int line = 0;    // the tag, by its place in the configuration
    int tag = 0;
};

// Every mapped tag's entry, sorted by table, then by address.
QVector<ModbusEntry> modbusEntries(const QVector<LineConfig>& lines);

// "holding 100 to 101", "coil 7"
QString modbusRangeText(ModbusTable table, int first, int last);

// The part of one tag a request covers: its bits or registers `first` to
// `first + count - 1`, counted from the tag's first.
struct ModbusSpan {
    int line = 0;
    int tag = 0;
    int first = 0;
    int count = 0;

    bool operator==(const ModbusSpan& other) const
    {
        return line == other.line && tag == other.tag && first == other.first && count == other.count;
    }
};

class ModbusMap {
public:
    explicit ModbusMap(const QVector<LineConfig>& lines);

    // The tags that `count` bits or registers from `address` on cover, in
    // address order. False when any of those addresses belongs to no tag.
    bool find(ModbusTable table, int address, int count, QVector<ModbusSpan>* spans) const;

private:
    const ModbusEntry* entryAt(ModbusTable table, int address) const;

    QVector<ModbusEntry> entries_;
};
