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
    ConversionCase{"X", "8", -1},
    ConversionCase{"X", "0", 0},
    ConversionCase{"X", "", -1},
    ConversionCase{"Y", "377", 255},
    ConversionCase{"Y", "400", 256}));  // out of range is the checker's business

INSTANTIATE_TEST_SUITE_P(SpecialRanges, AddressConversion, ::testing::Values(
    ConversionCase{"SM", "8000", 0},
    ConversionCase{"SM", "8255", 255},
    ConversionCase{"SM", "7999", -1},
    ConversionCase{"SM", "abc", -8001},
    ConversionCase{"SM", "", -8001},
    ConversionCase{"SD", "8000", 0},
    ConversionCase{"SD", "8255", 255},
    ConversionCase{"SD", "abc", -8001},
    ConversionCase{"32CV", "200", 0},
    ConversionCase{"32CV", "255", 55},
    ConversionCase{"32CV", "199", -1},
    ConversionCase{"32CV", "", -201}));

INSTANTIATE_TEST_SUITE_P(WordDotBit, AddressConversion, ::testing::Values(
    ConversionCase{"D_bit", "100.7", 1607},
    ConversionCase{"D_bit", "100.07", 1607},
    ConversionCase{"D_bit", "7999.15", 127999},
    ConversionCase{"D_bit", "0.0", 0},
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
    ConversionCase{"D", "7999", 7999},
    ConversionCase{"D", "8000", 8000},
    ConversionCase{"D", "", -1},
    ConversionCase{"D", "1x", -1},
    ConversionCase{"M", "10", 10},
    ConversionCase{"CV", "199", 199},
    ConversionCase{"TV", "5", 5},
    ConversionCase{"Q", "12", 12},            // names outside the table use the decimal rule
    ConversionCase{"d", "12", 12},
    ConversionCase{"x", "17", 17}));          // lower-case x is no octal register
// clang-format on

} // namespace
