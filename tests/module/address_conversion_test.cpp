// Address text to register index, through the exported AddrStringToInt.

#include "support/module_library.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct ConversionCase {
    const char* regName;
    const char* text;
    qint32 index;
};

void PrintTo(const ConversionCase& c, std::ostream* os)
{
    *os << c.regName << " '" << c.text << "' -> " << c.index;
}

class AddressConversion : public ::testing::TestWithParam<ConversionCase> {
protected:
    static void SetUpTestSuite() { module = new ModuleLibrary; }
    static void TearDownTestSuite() { delete module; }
    static ModuleLibrary* module;
};
ModuleLibrary* AddressConversion::module = nullptr;

TEST_P(AddressConversion, GivesTheRegisterIndexOrTheTypesFailureValue)
{
    ASSERT_TRUE(module->isLoaded()) << module->error();
    const ConversionCase& c = GetParam();
    EXPECT_EQ(module->api().AddrStringToInt(QString::fromUtf8(c.regName), QString::fromUtf8(c.text)),
              c.index);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Octal, AddressConversion, ::testing::Values(
    ConversionCase{"X", "17", 15},
    ConversionCase{"X", "18", -1},      // 8 is no octal digit
    ConversionCase{"X", "", -1},
    ConversionCase{"Y", "400", 256}));  // out of range is the checker's business

INSTANTIATE_TEST_SUITE_P(SpecialRanges, AddressConversion, ::testing::Values(
    ConversionCase{"SM", "", -8001},
    ConversionCase{"SD", "abc", -8001},
    ConversionCase{"32CV", "", -201}));

INSTANTIATE_TEST_SUITE_P(WordDotBit, AddressConversion, ::testing::Values(
    ConversionCase{"D_bit", "100.7", 1607},
    ConversionCase{"D_bit", "100.07", 1607},
    ConversionCase{"D_bit", "100.16", -1},
    ConversionCase{"D_bit", "100.015", -1},   // bit part of three characters
    ConversionCase{"D_bit", "100", -1},       // no point
    ConversionCase{"D_bit", "1.2.3", -1},     // two points
    ConversionCase{"D_bit", ".5", -1},        // empty word part
    ConversionCase{"D_bit", "5.", -1},        // empty bit part
    ConversionCase{"D_bit", "5.-1", -1},
    ConversionCase{"D_bit", "", -1},
    ConversionCase{"D_bit", "999999999.1", -1})); // index beyond 32 bits

INSTANTIATE_TEST_SUITE_P(Decimal, AddressConversion, ::testing::Values(
    ConversionCase{"D", "8000", 8000},
    ConversionCase{"D", "", -1},
    ConversionCase{"D", "1x", -1},
    ConversionCase{"CV", "199", 199},
    ConversionCase{"Q", "12", 12},            // names outside the table use the decimal rule
    ConversionCase{"x", "17", 17}));          // lower-case x is no octal register
// clang-format on

} // namespace
