// The road a host takes through the built module, resolved by name as a host
// does, with the test PLC on the other end of the line; loaded twice, since a
// host unloads and reloads the module with its project.

#include "support/module_library.h"
#include "virtual_plc.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <vector>

namespace {

using Notice = std::array<qint32, 4>; // tag, HostId, HostSubId, status
std::vector<Notice> notices;

void recordNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    notices.push_back({tag, hostId, hostSubId, status});
}

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
        EXPECT_EQ(api.ReCreatReadVarList({HostVarDef{{}, 0, {}, QStringLiteral("D100"), QStringLiteral("D"), 2, 0, 100}}), 1);
        EXPECT_EQ(api.SetRegisterData(QStringLiteral("D"), 100, 0, fromHexBytes("34 12"), 1), 1);

        VirtualPlc plc;
        // Block write "1" of 2 bytes at 0x10C8 (D100) carrying 34 12: the sum
        // of "110C8023412" and ETX is 0x23C.
        RequestFrame* frame = api.ComCommunication();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 31 31 30 43 38 30 32 33 34 31 32 03 33 43"));
        QByteArray reply = plc.receive(frame->FrameBytes);
        EXPECT_TRUE(notices.empty());
        EXPECT_EQ(api.DataCom(reply), 1);
        EXPECT_EQ(plc.word(0x10C8), 0x1234);
        EXPECT_EQ(notices, (std::vector<Notice>{{55, 0, -1, CompletionGood}})); // SetRegisterData's ids

        // The PLC's program changes D100; the cyclic read of D100..D101 brings it in.
        plc.setWord(0x10C8, 0x5678);
        plc.setWord(0x10CA, 0xABCD);
        frame = api.ComCommunication();
        ASSERT_NE(frame, nullptr);
        // Block read "0" of 4 bytes at 0x10C8: the sum of "010C804" and ETX is 0x173.
        EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 30 31 30 43 38 30 34 03 37 33"));
        EXPECT_EQ(frame->ReplyLength, 12);
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

} // namespace
