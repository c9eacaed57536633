// Variables as the user writes them, through the module's address check and
// conversion; the PLC's own spellings M8000 and D8000 switch at 8000; M
// relays past M1535 are out of the programming port's reach.

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
    {"X370", 9, "\"X370\": Address Format:ooo, range:0~377"},
    {"M8256", 1, "\"M8256\": Address Format:dddd, range:8000~8255"},
    {"Q5", 1, "\"Q5\": Didn't have this register!"},
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
