// Variables as the user writes them, through the module's address check and
// conversion; the PLC's own spellings M8000 and D8000 switch at 8000.

#include "variable_address.h"

#include <gtest/gtest.h>

namespace {

const struct {
    const char* text;
    int registers;
    const char* expected; // "name address index", or the refusal
} kRows[] = {
    {"M7999", 1, "M 7999 7999"},
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
