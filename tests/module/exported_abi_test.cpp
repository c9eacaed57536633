// The module as a host sees it: its dynamic symbol table holds the 14 entry
// points and the constructor, and nothing else.

#include "support/elf_symbols.h"
#include "support/module_library.h"

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

} // namespace
