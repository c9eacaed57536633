#include "registers/address_validation.h"

#include "registers/address_conversion.h"
#include "registers/register_types.h"
#include "registers/tool_message.h"

#include <QCoreApplication>

namespace {

constexpr const char* KindMismatchZh = TR_SOURCE("寄存器和地址类型不匹配!");
constexpr const char* KindMismatchEn = TR_SOURCE("The register and address type isn't match!");
constexpr const char* EmptyZh = TR_SOURCE("寄存器地址不能为空!");
constexpr const char* EmptyEn = TR_SOURCE("The register address can not be null!");
constexpr const char* SpaceZh = TR_SOURCE("寄存器地址不能包含空格!");
constexpr const char* SpaceEn = TR_SOURCE("The register address can not contain spaces!");
constexpr const char* NoSuchRegisterZh = TR_SOURCE("无此寄存器!");
constexpr const char* NoSuchRegisterEn = TR_SOURCE("Didn't have this register!");

// The eight bit types want a bit variable (0); the word types and every name
// outside the table want a word variable (1).
bool addressKindMatches(const RegisterTypeInfo* info, qint32 addressType)
{
    const AddressKind required = info ? info->addressKind : AddressKind::Word;
    return addressType == static_cast<qint32>(required);
}

// Index plus count in 64 bits: a count near 2^31 must not wrap the sum
// back into the range (X index 10 with count 2147483647 is out, not in).
bool inRange(const RegisterTypeInfo& info, qint32 index, qint32 count)
{
    return index >= 0 && static_cast<qint64>(index) + count <= info.registerCount;
}

} // namespace

QString checkAddress(const QString& regName, const QString& addrText, qint32* registerIndex,
                     qint32 count, qint32 language, qint32 addressType)
{
    const RegisterTypeInfo* info = findRegisterType(regName);
    if (!addressKindMatches(info, addressType))
        return toolMessage(language, KindMismatchZh, KindMismatchEn);
    if (addrText.isEmpty())
        return toolMessage(language, EmptyZh, EmptyEn);
    // Only the space character: a tab goes on to the conversion and fails there.
    if (addrText.contains(QLatin1Char(' ')))
        return toolMessage(language, SpaceZh, SpaceEn);

    const qint32 index = addressTextToIndex(regName, addrText);
    // A null pointer is outside the host's contract; the check still answers.
    if (registerIndex)
        *registerIndex = index;

    if (!info)
        return toolMessage(language, NoSuchRegisterZh, NoSuchRegisterEn);
    if (!inRange(*info, index, count))
        return toolMessage(language, info->rangeMessageZh, info->rangeMessageEn);
    return QString();
}
