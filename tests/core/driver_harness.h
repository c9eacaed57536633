#pragma once

// A driver object with its own ComInfo block, for the core tests, and small
// makers for the records the host hands in.

#include "core/driver_object.h"

#include <QString>

#include <array>
#include <ostream>
#include <vector>

struct DriverHarness {
    explicit DriverHarness(qint32 blockSize = 16)
    {
        comInfo.fill(0);
        comInfo[ComInfoWord::BlockSize] = blockSize;
        driver.SetComInfo(comInfo.data());
    }
    qint32& word(int position) { return comInfo[static_cast<size_t>(position)]; }

    std::array<qint32, 24> comInfo{};
    Tavrin driver;
};

inline VarItem makeItem(const char* regName, qint32 addr, qint32 count, qint32 hostId = 0,
                        qint32 hostSubId = 0)
{
    VarItem item;
    item.RegName = QString::fromLatin1(regName);
    item.Addr = addr;
    item.Count = count;
    item.HostId = hostId;
    item.HostSubId = hostSubId;
    return item;
}

inline VarItem makeWrite(const char* regName, qint32 addr, qint32 count, const QByteArray& data,
                         qint32 hostId = 0, qint32 hostSubId = 0)
{
    VarItem item = makeItem(regName, addr, count, hostId, hostSubId);
    item.OpKind = OpKindWrite;
    item.Data = data;
    return item;
}

inline HostVarDef makeVar(const char* regName, qint32 addr, qint32 length,
                          const char* addrText = "")
{
    HostVarDef var;
    var.RegName = QString::fromLatin1(regName);
    var.Addr = addr;
    var.Length = length;
    var.AddrText = QString::fromLatin1(addrText);
    return var;
}

// Addr and Count of a list item, for compact expectations.
struct Span {
    qint32 addr;
    qint32 count;
    bool operator==(const Span& other) const { return addr == other.addr && count == other.count; }
};

inline std::vector<Span> spansOf(const VarItemList& list)
{
    std::vector<Span> spans;
    for (int i = 0; i < list.size(); ++i)
        spans.push_back({list.at(i).Addr, list.at(i).Count});
    return spans;
}

inline void PrintTo(const Span& span, std::ostream* os)
{
    *os << '(' << span.addr << ", " << span.count << ')';
}
