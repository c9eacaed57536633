// The configuration tools through the exported entry points, as a host
// resolves them: out-parameters, containers and UTF-8 texts cross the
// library boundary intact, and address texts convert to register indexes.

#include "support/module_library.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

TEST(ConfigToolsAbi, CheckCopyAndConvertAcrossTheLibraryBoundary)
{
    ModuleLibrary module;
    ASSERT_TRUE(module.isComplete()) << module.error();
    const ModuleEntryPoints& api = module.api();
    qint32 index = -99;
    EXPECT_EQ(api.CheckAddrCorrect(QStringLiteral("D_bit"), QStringLiteral("8000.0"), &index, 1, 0, 0),
              QString::fromUtf8("地址格式:ddd.DD, 范围:0.0~7999.15, DD位地址0~15"));
    EXPECT_EQ(index, 128000); // 8000 x 16 + 0
    EXPECT_EQ(api.CheckAddrCorrect(QStringLiteral("M"), QStringLiteral("1"), &index, 1, 1, 1),
              QStringLiteral("The register and address type isn't match!"));
    QStringList texts{QStringLiteral("stale")};
    QVector<qint32> numbers{1, 2, 3};
    EXPECT_EQ(api.AddrMutilCopy(QStringLiteral("D_bit"), 127990, 2, 5, texts, numbers, 0),
              QString::fromUtf8("复制已超出地址最大限制, 是否继续复制?"));
    EXPECT_EQ(texts, (QStringList{QStringLiteral("7999.11"), QStringLiteral("7999.15")}));
    EXPECT_EQ(numbers, (QVector<qint32>{127995, 128000}));

    // Texts the address check turns away before it converts them.
    const auto convert = [&](const char* regName, const char* text) {
        return api.AddrStringToInt(QLatin1String(regName), QLatin1String(text));
    };
    EXPECT_EQ(convert("32CV", ""), -201);            // each type has its own failure value
    EXPECT_EQ(convert("32CV", "-2147483648"), -201); // less the base 200, beyond 32 bits
    EXPECT_EQ(convert("D_bit", "100.07"), 1607);     // 100 x 16 + 7
    EXPECT_EQ(convert("D_bit", "100.015"), -1);      // a bit part of three characters
    EXPECT_EQ(convert("D_bit", "100"), -1);          // no point
    EXPECT_EQ(convert("D_bit", ".5"), -1);
    EXPECT_EQ(convert("D_bit", "5.-1"), -1);
    EXPECT_EQ(convert("D_bit", "999999999.1"), -1); // 15999999985, beyond 32 bits
}

} // namespace
