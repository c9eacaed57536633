// The built module as a host sees it: its dynamic symbol table holds the 14
// entry points and the constructor and nothing else; a host resolves them by
// name and drives a write and a cyclic read against the test PLC; the
// configuration tools take and give out-parameters, containers and UTF-8
// texts across the library boundary intact (what each tool answers:
// tests/registers).

#include "support/module_library.h"
#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <set>
#include <vector>

namespace {

// The names the module's dynamic symbol table defines, as binutils' nm lists
// them ("ADDRESS T NAME"): an oracle that shares no code with the build.
std::set<std::string> definedDynamicSymbols(const char* path)
{
    QProcess nm;
    nm.start(QStringLiteral("nm"), {QStringLiteral("-D"), QStringLiteral("-g"),
                                    QStringLiteral("--defined-only"), QString::fromLocal8Bit(path)});
    EXPECT_TRUE(nm.waitForFinished() && nm.exitCode() == 0) << nm.readAllStandardError().toStdString();
    std::set<std::string> names;
    for (const QByteArray& line : nm.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            names.insert(line.split(' ').last().toStdString());
    }
    return names;
}

TEST(ExportedAbi, DynamicSymbolTableHoldsOnlyEntryPointsAndConstructor)
{
    std::set<std::string> exported = definedDynamicSymbols(TAVRIN_MODULE_PATH);
    exported.erase("_ZN6TavrinC2Ev"); // compilers may alias the base-object constructor away
    std::set<std::string> expected(std::begin(kEntryPointNames), std::end(kEntryPointNames));
    expected.insert("_ZN6TavrinC1Ev");
    EXPECT_EQ(exported, expected);
}

using Notice = std::array<qint32, 4>; // tag, HostId, HostSubId, status
std::vector<Notice> notices;

void recordNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    notices.push_back({tag, hostId, hostSubId, status});
}

// Loaded twice, since a host unloads and reloads the module with its project.
TEST(HostRoads, AWriteGoesOutFirstTheCycleFillsTheImageAndAReloadStartsFresh)
{
    qint32 comInfo[ComInfoWord::Count] = {};
    comInfo[ComInfoWord::BlockSize] = 64;
    comInfo[ComInfoWord::WriteMode] = WriteModeQueue;
    comInfo[ComInfoWord::CallbackTag] = 55;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ModuleLibrary module;
        ASSERT_TRUE(module.isComplete()) << module.error();
        const ModuleEntryPoints& api = module.api();
        QByteArray values;
        api.GetRegisterData(QStringLiteral("D"), 100, 0, values, 2);
        EXPECT_EQ(values, QByteArray(4, '\0')); // nothing kept from the last load
        api.SetComInfo(comInfo);
        notices.clear();
        api.RegistCallBackFuncIntf(recordNotice, 0);
        // D100 and D101 as one host variable: texts, "D100", "D", length 2, value, index 100.
        const HostVarDef d100{{}, 0, {}, QStringLiteral("D100"), QStringLiteral("D"), 2, 0, 100};
        EXPECT_EQ(api.ReCreatReadVarList({d100}), 1);
        EXPECT_EQ(api.SetRegisterData(QStringLiteral("D"), 100, 0, fromHexBytes("34 12"), 1), 1);

        VirtualPlc plc;
        RequestFrame* frame = api.ComCommunication(); // the write: "110C8023412", sum 0x23C
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 31 31 30 43 38 30 32 33 34 31 32 03 33 43"));
        QByteArray reply = plc.receive(frame->FrameBytes);
        EXPECT_EQ(api.DataCom(reply), 1);
        EXPECT_EQ(plc.word(0x10C8), 0x1234);
        EXPECT_EQ(notices, (std::vector<Notice>{{55, 0, -1, CompletionGood}})); // SetRegisterData's ids

        plc.setWord(0x10C8, 0x5678);
        plc.setWord(0x10CA, 0xABCD);
        frame = api.ComCommunication(); // the cyclic read: "010C804", sum 0x173
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 30 31 30 43 38 30 34 03 37 33"));
        reply = plc.receive(frame->FrameBytes);
        EXPECT_EQ(api.DataCom(reply), 1);
        EXPECT_EQ(api.GetRegisterData(QStringLiteral("D"), 100, 0, values, 2), 1);
        EXPECT_EQ(values, fromHexBytes("78 56 CD AB"));

        // Left in flight for the unload to destroy: a queued write and its frame.
        api.SetRegisterData(QStringLiteral("D"), 101, 0, fromHexBytes("01 00"), 1);
        ASSERT_NE(api.ComCommunication(), nullptr);
    }
    EXPECT_EQ(dlopen(TAVRIN_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr); // really unloaded
}

TEST(ConfigToolsAbi, CheckCopyAndConvertAcrossTheLibraryBoundary)
{
    ModuleLibrary module;
    ASSERT_TRUE(module.isComplete()) << module.error();
    const ModuleEntryPoints& api = module.api();
    qint32 index = -99;
    EXPECT_EQ(api.CheckAddrCorrect(QStringLiteral("D_bit"), QStringLiteral("8000.0"), &index, 1, 0, 0),
              QString::fromUtf8("地址格式:ddd.DD, 范围:0.0~7999.15, DD位地址0~15"));
    EXPECT_EQ(index, 128000); // 8000 x 16 + 0
    EXPECT_EQ(api.CheckAddrCorrect(QStringLiteral("M"), QStringLiteral("1"), &index, 1, 1, 1),
              QStringLiteral("The register and address type isn't match!"));
    QStringList texts{QStringLiteral("stale")};
    QVector<qint32> numbers{1, 2, 3};
    EXPECT_EQ(api.AddrMutilCopy(QStringLiteral("D_bit"), 127990, 2, 5, texts, numbers, 0),
              QString::fromUtf8("复制已超出地址最大限制, 是否继续复制?"));
    EXPECT_EQ(texts, (QStringList{QStringLiteral("7999.11"), QStringLiteral("7999.15")}));
    EXPECT_EQ(numbers, (QVector<qint32>{127995, 128000}));
    EXPECT_EQ(api.AddrStringToInt(QStringLiteral("D_bit"), QStringLiteral("100.07")), 1607); // 100 x 16 + 7
}

} // namespace
