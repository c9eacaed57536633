#include "registers/address_multi_copy.h"

#include "registers/register_types.h"
#include "registers/tool_message.h"

#include <QCoreApplication>

#include <algorithm>
#include <limits>

namespace {

constexpr const char* PastLimitZh =
    QT_TRANSLATE_NOOP("QObject", "复制已超出地址最大限制, 是否继续复制?");
constexpr const char* PastLimitEn = QT_TRANSLATE_NOOP(
    "QObject", "Copy has exceeded the maximum limit of the address, and whether to continue copying?");

// The editor's number formats print the int's 32-bit pattern as unsigned,
// so a negative address shows as its two's complement: -1 is "4294967295"
// in decimal and "37777777777" in octal.
QString unsignedText(qint32 value, int base)
{
    return QString::number(static_cast<quint32>(value), base);
}

// D_bit: word "." bit, the bit in at least two digits (1625 is "101.09").
// Division truncates toward zero, so -1 is word 0, bit -1: "0.4294967295".
QString wordDotBitText(qint32 address)
{
    const qint32 word = address / 16;
    const qint32 bit = address % 16;
    return unsignedText(word, 10) + QLatin1Char('.')
        + QStringLiteral("%1").arg(static_cast<quint32>(bit), 2, 10, QLatin1Char('0'));
}

QString addressText(const RegisterTypeInfo& info, qint32 address)
{
    switch (info.notation) {
    case AddressNotation::Octal:
        return unsignedText(address, 8);
    case AddressNotation::WordDotBit:
        return wordDotBitText(address);
    case AddressNotation::Decimal:
        break;
    }
    return unsignedText(address, 10);
}

// Out-of-contract counts (two billion copies) would need gigabytes. No type
// holds more addresses than the largest index space (D_bit: 128000), and no
// configuration holds more variables of one type, so copies beyond that many
// are not generated: at most a few megabytes of texts.
qint32 maxCopies()
{
    qint32 largest = 0;
    for (int i = 0; i < RegisterTypeCount; ++i)
        largest = std::max(largest, addressNumberLimit(registerTypeTable()[i]));
    return largest;
}

} // namespace

QString copyAddresses(const QString& regName, qint32 start, qint32 count, qint32 step,
                      QStringList& addrTexts, QVector<qint32>& addrNumbers, qint32 language)
{
    addrTexts.clear();
    addrNumbers.clear();
    const RegisterTypeInfo* info = findRegisterType(regName);
    if (!info || count <= 0)
        return QString();

    const qint32 limit = addressNumberLimit(*info);
    const qint32 copies = std::min(count, maxCopies());
    addrTexts.reserve(copies);
    addrNumbers.reserve(copies);
    bool clamped = false;
    for (qint64 k = 1; k <= copies; ++k) {
        // In 64 bits: start 2147483600 with step 100 must not wrap negative.
        // An address below the 32-bit range (a large negative step) has no
        // int to print and is clamped like one past the end.
        const qint64 address = start + k * step;
        if (address < limit && address >= std::numeric_limits<qint32>::min()) {
            addrTexts.append(addressText(*info, static_cast<qint32>(address)));
            addrNumbers.append(static_cast<qint32>(address));
        } else {
            // The limit itself, not the highest address: 256 for X, 128000 for D_bit.
            addrTexts.append(QString::fromLatin1(info->highestText));
            addrNumbers.append(limit);
            clamped = true;
        }
    }
    return clamped ? toolMessage(language, PastLimitZh, PastLimitEn) : QString();
}
