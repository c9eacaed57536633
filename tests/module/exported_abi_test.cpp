// The module as a host sees it: its dynamic symbol table holds the 14 entry
// points and the constructor, and nothing else; the configuration tools,
// resolved by name, take and give out-parameters, containers and UTF-8 texts
// across the library boundary intact (what each tool answers: tests/registers).

#include "support/elf_symbols.h"
#include "support/module_library.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ExportedAbi, DynamicSymbolTableHoldsOnlyEntryPointsAndConstructor)
{
    std::vector<std::string> names;
    std::string error;
    ASSERT_TRUE(readDefinedDynamicSymbols(TAVRIN_MODULE_PATH, names, error)) << error;
    std::set<std::string> exported(names.begin(), names.end());
    exported.erase("_ZN6TavrinC2Ev"); // compilers may alias the base-object constructor away
    std::set<std::string> expected(std::begin(kEntryPointNames), std::end(kEntryPointNames));
    expected.insert("_ZN6TavrinC1Ev");
    EXPECT_EQ(exported, expected);
}

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
    EXPECT_EQ(api.AddrStringToInt(QStringLiteral("D_bit"), QStringLiteral("100.07")), 1607); // 100 x 16 + 7
}

} // namespace
