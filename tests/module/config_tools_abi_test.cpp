// The configuration tools through the exported entry points, as a host
// resolves them: the signatures, the out-parameters and the UTF-8 texts
// cross the library boundary intact.

#include "support/module_library.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

class ConfigToolsAbi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = new ModuleLibrary; }
    static void TearDownTestSuite() { delete module; }
    void SetUp() override { ASSERT_TRUE(module->isComplete()) << module->error(); }
    static const ModuleEntryPoints& api() { return module->api(); }
    static ModuleLibrary* module;
};
ModuleLibrary* ConfigToolsAbi::module = nullptr;

TEST_F(ConfigToolsAbi, CheckAddrCorrectWritesTheIndexAndAcceptsTheLastAddress)
{
    qint32 index = -99;
    EXPECT_EQ(api().CheckAddrCorrect(QStringLiteral("X"), QStringLiteral("377"), &index, 1, 1, 0),
              QString());
    EXPECT_EQ(index, 255);
}

TEST_F(ConfigToolsAbi, CheckAddrCorrectReturnsChineseAndEnglishMessages)
{
    qint32 index = -99;
    EXPECT_EQ(api().CheckAddrCorrect(QStringLiteral("D"), QString(), &index, 1, 0, 1),
              QString::fromUtf8("寄存器地址不能为空!"));
    EXPECT_EQ(index, -99);
    EXPECT_EQ(api().CheckAddrCorrect(QStringLiteral("D_bit"), QStringLiteral("8000.0"), &index, 1, 0, 0),
              QString::fromUtf8("地址格式:ddd.DD, 范围:0.0~7999.15, DD位地址0~15"));
    EXPECT_EQ(index, 128000);
    EXPECT_EQ(api().CheckAddrCorrect(QStringLiteral("M"), QStringLiteral("1"), &index, 1, 1, 1),
              QStringLiteral("The register and address type isn't match!"));
}

TEST_F(ConfigToolsAbi, AddrMutilCopyFillsTheHostsContainersAndAsksInChinese)
{
    QStringList texts{QStringLiteral("stale")};
    QVector<qint32> numbers{1, 2, 3};
    EXPECT_EQ(api().AddrMutilCopy(QStringLiteral("D_bit"), 127990, 2, 5, texts, numbers, 0),
              QString::fromUtf8("复制已超出地址最大限制, 是否继续复制?"));
    EXPECT_EQ(texts, (QStringList{QStringLiteral("7999.11"), QStringLiteral("7999.15")}));
    EXPECT_EQ(numbers, (QVector<qint32>{127995, 128000}));
}

TEST_F(ConfigToolsAbi, AddrMutilCopyPrintsOctalForInputs)
{
    QStringList texts;
    QVector<qint32> numbers;
    EXPECT_EQ(api().AddrMutilCopy(QStringLiteral("X"), 15, 3, 1, texts, numbers, 1), QString());
    EXPECT_EQ(texts, (QStringList{QStringLiteral("20"), QStringLiteral("21"), QStringLiteral("22")}));
    EXPECT_EQ(numbers, (QVector<qint32>{16, 17, 18}));
}

} // namespace
