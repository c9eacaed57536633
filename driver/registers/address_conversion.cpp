#include "registers/address_conversion.h"

#include "registers/register_types.h"

#include <QStringList>

#include <limits>

namespace {

// A number that parses but whose index does not fit 32 bits (a word number of
// D_bit beyond 134217727, say) is no address either: it gets the failure value.
qint32 fitOrFail(qint64 index, qint32 failure)
{
    if (index < std::numeric_limits<qint32>::min() || index > std::numeric_limits<qint32>::max())
        return failure;
    return static_cast<qint32>(index);
}

qint32 wordDotBitToIndex(const QString& text)
{
    constexpr qint32 failure = -1;
    if (text.count(QLatin1Char('.')) != 1)
        return failure;
    const QStringList parts = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    bool ok = false;
    const qint64 word = parts.at(0).toInt(&ok, 10);
    if (!ok)
        return failure;
    const QString& bitText = parts.at(1);
    const int bit = bitText.toInt(&ok, 10);
    if (!ok || bit < 0 || bit > 15 || bitText.size() > 2)
        return failure;
    return fitOrFail(word * 16 + bit, failure);
}

} // namespace

qint32 addressTextToIndex(const QString& regName, const QString& addrText)
{
    const RegisterTypeInfo* info = findRegisterType(regName);
    if (info && info->notation == AddressNotation::WordDotBit)
        return wordDotBitToIndex(addrText);

    // Names outside the table fall to the decimal rule.
    const int base = info ? info->numberBase : 10;
    const qint32 offset = info ? info->numberOffset : 0;
    const qint32 failure = info ? info->parseFailure : -1;
    bool ok = false;
    const qint64 number = addrText.toInt(&ok, base);
    if (!ok)
        return failure;
    return fitOrFail(number - offset, failure);
}
