// Variables as the user writes them, through the module's address check and
// conversion: register name, address text and register index.

#include "support/qt_printers.h"
#include "variable_address.h"

#include <gtest/gtest.h>

namespace {

struct ParseRow {
    const char* name;
    const char* text;
    const char* regName;
    const char* addrText;
    qint32 index;
};

const ParseRow kParseRows[] = {
    {"DataRegister", "D100", "D", "100", 100},
    {"InputOctal", "X17", "X", "17", 15},
    {"BitOfDataRegister", "D10.3", "D_bit", "10.3", 163},
    {"SpecialRelay", "SM8000", "SM", "8000", 0},
    {"SpecialRelayPlcSpelling", "M8002", "SM", "8002", 2},
    {"SpecialDataPlcSpelling", "D8000", "SD", "8000", 0},
    {"Timer", "T5", "T", "5", 5},
    {"TimerValue", "TV5", "TV", "5", 5},
    {"Counter32First", "32CV200", "32CV", "200", 0},
    {"LowerCaseLetters", "d100", "D", "100", 100},
};

class ParseVariable : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseVariable, GivesTheModulesNameAddressAndIndex)
{
    const ParseRow& row = GetParam();
    VariableAddress variable;
    QString error;
    ASSERT_TRUE(parseVariableAddress(QLatin1String(row.text), 1, &variable, &error)) << error.toStdString();
    EXPECT_EQ(variable.regName, QLatin1String(row.regName));
    EXPECT_EQ(variable.addrText, QLatin1String(row.addrText));
    EXPECT_EQ(variable.index, row.index);
}

INSTANTIATE_TEST_SUITE_P(Spellings, ParseVariable, ::testing::ValuesIn(kParseRows),
                         [](const ::testing::TestParamInfo<ParseRow>& info) { return std::string(info.param.name); });

struct RejectRow {
    const char* name;
    const char* text;
    int registers;
    const char* message;
};

const RejectRow kRejectRows[] = {
    {"NotOctal", "X18", 1, "Address Format:ooo, range:0~377"},
    {"PastTheLastInput", "X370", 9, "Address Format:ooo, range:0~377"},
    {"NoSuchRegister", "Q5", 1, "Didn't have this register!"},
    {"BitPastFifteen", "D10.16", 1, "Address Format:ddd, range:0.0~7999.15, DD-bit addresses 0~15"},
    {"NoAddress", "D", 1, "The register address can not be null!"},
};

class RejectVariable : public ::testing::TestWithParam<RejectRow> {};

TEST_P(RejectVariable, QuotesTheTextAndTheModulesMessage)
{
    const RejectRow& row = GetParam();
    VariableAddress variable;
    QString error;
    EXPECT_FALSE(parseVariableAddress(QLatin1String(row.text), row.registers, &variable, &error));
    EXPECT_EQ(error, QStringLiteral("\"%1\": %2").arg(QLatin1String(row.text), QLatin1String(row.message)));
}

INSTANTIATE_TEST_SUITE_P(Rejected, RejectVariable, ::testing::ValuesIn(kRejectRows),
                         [](const ::testing::TestParamInfo<RejectRow>& info) { return std::string(info.param.name); });

TEST(VariableAddress, RegisterTextFollowsEachTypesNotation)
{
    VariableAddress x17, d10bit15, sm8000, counter;
    QString error;
    ASSERT_TRUE(parseVariableAddress(QStringLiteral("X17"), 2, &x17, &error));
    ASSERT_TRUE(parseVariableAddress(QStringLiteral("D10.15"), 2, &d10bit15, &error));
    ASSERT_TRUE(parseVariableAddress(QStringLiteral("M8000"), 3, &sm8000, &error));
    ASSERT_TRUE(parseVariableAddress(QStringLiteral("32CV200"), 2, &counter, &error));
    EXPECT_EQ(x17.registerText(0), QLatin1String("X17"));
    EXPECT_EQ(x17.registerText(1), QLatin1String("X20")); // octal: 17 + 1 = 20
    EXPECT_EQ(d10bit15.registerText(1), QLatin1String("D11.00"));
    EXPECT_EQ(sm8000.registerText(2), QLatin1String("SM8002"));
    EXPECT_EQ(counter.registerText(1), QLatin1String("32CV201"));
}

} // namespace
