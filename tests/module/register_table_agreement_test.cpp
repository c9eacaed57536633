// The runtime keeps its own register table, as a host that sees only the
// module's public header does; every column it shares with the module's
// table must say the same, row by row and in the same order, so that a fact
// changed in one table and not the other fails here, with both rows shown.

#include "module/module_register_rows.h"
#include "register_kinds.h"

#include <gtest/gtest.h>

namespace {

class RegisterTableAgreement : public ::testing::TestWithParam<int> {};

TEST_P(RegisterTableAgreement, RuntimeRowSaysWhatTheModuleRowSays)
{
    const RegisterKind& k = registerKinds()[GetParam()];
    EXPECT_EQ(registerRowText(k.name, int(k.element), k.area, k.numberBase, k.numberOffset, k.registers,
                              k.byteBase, k.unitBytes, k.forceBase, k.writable),
              moduleRegisterRow(GetParam()));
    EXPECT_EQ(moduleRegisterRow(RegisterKindCount), ""); // and the module has no row more
}

INSTANTIATE_TEST_SUITE_P(Rows, RegisterTableAgreement, ::testing::Range(0, RegisterKindCount),
                         [](const auto& info) { return std::string(registerKinds()[info.param].name); });

} // namespace
