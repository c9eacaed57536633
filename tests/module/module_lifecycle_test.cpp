// Loading, unloading and loading the module again: the teardown runs, and
// a reloaded module starts from a fresh driver object.

#include "support/module_library.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

TEST(ModuleLifecycle, ReloadStartsFromAFreshDriverObject)
{
    qint32 comInfo[ComInfoWord::Count] = {};
    comInfo[ComInfoWord::BlockSize] = 16;
    for (int round = 0; round < 3; ++round) {
        ModuleLibrary module;
        ASSERT_TRUE(module.isLoaded()) << module.error();
        ASSERT_TRUE(module.isComplete());
        const ModuleEntryPoints& api = module.api();
        api.SetComInfo(comInfo);

        // A fresh image reads as zeros, whatever the last load wrote.
        QByteArray values;
        EXPECT_EQ(api.GetRegisterData(QStringLiteral("D"), 100, 0, values, 2), 1);
        EXPECT_EQ(values, QByteArray(4, '\0')) << "round " << round;

        api.SetRegisterData(QStringLiteral("D"), 100, 0, QByteArray("\x34\x12", 2), 1);
        VarItem item;
        item.RegName = QStringLiteral("D");
        item.Addr = 0;
        item.Count = 1;
        api.AddListWriteVar(item); // left queued: the teardown must destroy it
    }
    // After the last unload the module is really gone from the process.
    EXPECT_EQ(dlopen(TAVRIN_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
}

} // namespace
