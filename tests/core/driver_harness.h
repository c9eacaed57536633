#pragma once

// A driver object with its own ComInfo block, makers for the records the host
// hands in, and the lists seen as a host sees them: through the items of the
// frames the request cycle builds.

#include "core/driver_object.h"
#include "support/qt_printers.h"

#include <QStringList>
#include <string>
#include <vector>

struct DriverHarness {
    explicit DriverHarness(qint32 blockSize = 16, qint32 writeMode = 0)
    {
        comInfo[ComInfoWord::BlockSize] = blockSize;
        comInfo[ComInfoWord::WriteMode] = writeMode;
        driver.SetComInfo(comInfo);
    }

    // The items of the next `transactions` requests, each given up at once
    // (no reply, RetryLimit 0): a pending item leaves its list, a cyclic
    // block goes to the end of the ring. The empty turn after five items of
    // one list is passed over; stops when nothing is left to send.
    std::vector<VarItem> requestItems(int transactions = 4096)
    {
        comInfo[ComInfoWord::RetryLimit] = 0;
        std::vector<VarItem> items;
        while (static_cast<int>(items.size()) < transactions) {
            RequestFrame* frame = driver.ComCommunication();
            if (!frame)
                frame = driver.ComCommunication();
            if (!frame)
                break;
            items.push_back(frame->Item);
            driver.DataCom(QByteArray());
        }
        return items;
    }

    // GetRegisterData into an array that held `old`; SetRegisterData's result.
    QByteArray get(const char* regName, qint32 index, qint32 count, const char* old = "")
    {
        QByteArray values = fromHexBytes(old);
        driver.GetRegisterData(QString::fromLatin1(regName), index, 0, values, count);
        return values;
    }
    qint32 set(const char* regName, qint32 index, const char* values, qint32 count, qint32 station = 0)
    {
        return driver.SetRegisterData(QString::fromLatin1(regName), index, station, fromHexBytes(values), count);
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

// Items as "D:0+64 D:64+22" (RegName:Addr+Count), with "@AddrText" if asked.
inline std::string spansOf(const std::vector<VarItem>& items, bool withText = false)
{
    QStringList spans;
    for (const VarItem& item : items) {
        spans << item.RegName + QStringLiteral(":%1+%2").arg(item.Addr).arg(item.Count)
                     + (withText ? QLatin1Char('@') + item.AddrText : QString());
    }
    return spans.join(QLatin1Char(' ')).toStdString();
}
