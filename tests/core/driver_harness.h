#pragma once

// A driver object with its own ComInfo block (RetryLimit 0 unless a test sets
// it), makers for the records the host hands in, and lists written as text.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <QStringList>
#include <string>

struct DriverHarness {
    explicit DriverHarness(qint32 blockSize = 16, qint32 writeMode = 0)
    {
        comInfo[ComInfoWord::BlockSize] = blockSize;
        comInfo[ComInfoWord::WriteMode] = writeMode;
        driver.SetComInfo(comInfo);
    }
    qint32 comInfo[ComInfoWord::Count] = {};
    Tavrin driver;
};

// A read item, or a write item when it carries data ("34 12": spaced hex
// bytes). Both records are built in the host's field order.
inline VarItem makeItem(const char* regName, qint32 addr, qint32 count, const char* data = "",
                        qint32 hostId = 0, qint32 hostSubId = 0)
{
    const qint32 opKind = *data ? OpKindWrite : OpKindRead;
    // clang-format off
    return {hostId, hostSubId, opKind, 0, 0, 0, QString::fromLatin1(regName), {}, 0, addr, 0,
            count, 0, 0, fromHexBytes(data)};
    // clang-format on
}

inline HostVarDef makeVar(const char* regName, qint32 addr, qint32 length, const QString& text = {})
{
    return {{}, 0, {}, text, QString::fromLatin1(regName), length, 0, addr};
}

// A list as "D:0+64 D:64+22" (RegName:Addr+Count), with "@AddrText" if asked.
inline std::string spansOf(const VarItemList& list, bool withText = false)
{
    QStringList spans;
    for (int i = 0; i < list.size(); ++i) {
        const VarItem& item = list.at(i);
        spans << item.RegName + QStringLiteral(":%1+%2").arg(item.Addr).arg(item.Count)
                     + (withText ? QLatin1Char('@') + item.AddrText : QString());
    }
    return spans.join(QLatin1Char(' ')).toStdString();
}
