// The register type table agrees with itself: every type's highest address
// text converts to its last register index, and names match exactly only.

#include "registers/address_conversion.h"
#include "registers/register_types.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

TEST(RegisterTable, HighestAddressTextIsTheLastIndexOfEveryType)
{
    for (int i = 0; i < RegisterTypeCount; ++i) {
        const RegisterTypeInfo& info = registerTypeTable()[i];
        const QString name = QString::fromLatin1(info.name);
        EXPECT_EQ(addressTextToIndex(name, QString::fromLatin1(info.highestText)),
                  info.registerCount - 1)
            << info.name;
        EXPECT_EQ(findRegisterType(name), &info);
        EXPECT_EQ(&registerTypeInfo(info.type), &info);
    }
}

TEST(RegisterTable, NamesAreMatchedExactlyAndCaseSensitively)
{
    for (const char* notAName : {"x", "sm", "X ", " X", "Xx", "D_BIT", "d_bit", "32cv", "", "Q"})
        EXPECT_EQ(findRegisterType(QString::fromLatin1(notAName)), nullptr) << notAName;
}

} // namespace
