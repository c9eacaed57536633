// Variables as the user writes them, or the message that says what is
// accepted; M8000 and D8000 switch register; M past M1535 is out of reach.

#include "variable_address.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

const struct {
    const char* text;
    int registers;
    const char* expected; // "name address index", or the refusal
} kRows[] = {
    {"M1535", 1, "M 1535 1535"},
    {"M1536", 1, "\"M1536\": out of the programming port's reach (M0 to M1535): a request for M1536 would act "
                 "on C0 instead"},
    {"M1530", 8, "\"M1530\": out of the programming port's reach (M0 to M1535): a request for M1536 would act "
                 "on C0 instead"},
    {"M1826", 1, "\"M1826\": out of the programming port's reach (M0 to M1535): a request for M1826 would act "
                 "on M8034 instead"},
    {"M7999", 1, "\"M7999\": out of the programming port's reach (M0 to M1535): the PLC refuses a request for M7999"},
    {"M8000", 1, "SM 8000 0"},
    {"d8000", 1, "SD 8000 0"},
    {"D10.3", 1, "D_bit 10.3 163"},
    {"X370", 8, "X 370 248"},
    {"32cv200", 1, "32CV 200 0"},
    {"X370", 9, "\"X370\": 9 registers from X370 run to X400, past the last one, X377"},
    {"M8256", 1, "\"M8256\": expected M0 to M1535, or M8000 to M8255"},
    {"D99999", 1, "\"D99999\": expected D0 to D7999, D8000 to D8255, or bits D0.0 to D7999.15"},
    {"X18", 1, "\"X18\": expected X0 to X377 (octal)"},
    {"D+5", 1, "\"D+5\": expected D0 to D7999, D8000 to D8255, or bits D0.0 to D7999.15"},
    {"X-0", 1, "\"X-0\": expected X0 to X377 (octal)"},
    {"D10.3.1", 1, "\"D10.3.1\": expected D0 to D7999, D8000 to D8255, or bits D0.0 to D7999.15"},
    {"Q5", 1, "\"Q5\": no register named \"Q\": the names are X, Y, M, SM, S, T, C, D, SD, TV, CV, 32CV (M8000 and "
              "D8000 up for the special relays and registers, D10.3 for bit 3 of D10)"},
    {"DX", 1, "\"DX\": no register named \"DX\": the names are X, Y, M, SM, S, T, C, D, SD, TV, CV, 32CV (M8000 and "
              "D8000 up for the special relays and registers, D10.3 for bit 3 of D10)"},
};

TEST(VariableAddress, GivesTheModulesNameAddressAndIndexOrItsMessage)
{
    for (const auto& row : kRows) {
        VariableAddress v;
        QString error;
        const bool parsed = parseVariableAddress(QLatin1String(row.text), row.registers, &v, &error);
        EXPECT_EQ(parsed ? QStringLiteral("%1 %2 %3").arg(v.regName, v.addrText).arg(v.index) : error, QLatin1String(row.expected))
            << row.text << ":" << row.registers;
    }
}

} // namespace
