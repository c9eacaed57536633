// The runtime keeps its own register table, as a host that sees only the
// module's public header does; every column it shares with the module's
// table must say the same, row by row and in the same order, so that a fact
// changed in one table and not the other fails here.

#include "module/module_register_facts.h"
#include "register_kinds.h"

#include <gtest/gtest.h>

namespace {

const char* elementName(ElementKind element)
{
    return element == ElementKind::Bit ? "bit" : element == ElementKind::Word ? "word" : "double word";
}

class RegisterTableAgreement : public ::testing::TestWithParam<int> {};

TEST_P(RegisterTableAgreement, RuntimeRowSaysWhatTheModuleRowSays)
{
    const std::vector<ModuleRegisterFacts> moduleRows = moduleRegisterFacts();
    ASSERT_EQ(moduleRows.size(), size_t(RegisterKindCount));
    const ModuleRegisterFacts& module = moduleRows.at(size_t(GetParam()));
    const RegisterKind& runtime = registerKinds()[GetParam()];
    EXPECT_EQ(runtime.name, module.name);
    EXPECT_EQ(elementName(runtime.element), module.element);
    EXPECT_EQ(runtime.area, module.area);
    EXPECT_EQ(runtime.numberBase, module.numberBase);
    EXPECT_EQ(runtime.numberOffset, module.numberOffset);
    EXPECT_EQ(runtime.registers, module.registerCount);
    EXPECT_EQ(runtime.byteBase, module.byteBase);
    EXPECT_EQ(runtime.unitBytes, module.unitBytes);
    EXPECT_EQ(runtime.forceBase, module.forceBase);
    EXPECT_EQ(runtime.writable, module.writable);
}

INSTANTIATE_TEST_SUITE_P(Rows, RegisterTableAgreement, ::testing::Range(0, RegisterKindCount),
                         [](const auto& info) { return std::string(registerKinds()[info.param].name); });

} // namespace
