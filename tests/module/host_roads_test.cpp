// The two roads a host takes through the built module, resolved by name as
// a host does, with the test PLC on the other end of the line. Each test
// loads its own copy of the module, so no state leaks between tests.

#include "support/module_library.h"
#include "support/plc_responder.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Notice {
    qint32 tag, hostId, hostSubId, status;
};
std::vector<Notice> notices;

void recordNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    notices.push_back({tag, hostId, hostSubId, status});
}

HostVarDef dataRegister(qint32 index, const char* text)
{
    HostVarDef var;
    var.RegName = QStringLiteral("D");
    var.AddrText = QString::fromLatin1(text);
    var.Addr = index;
    var.Length = 1;
    return var;
}

TEST(HostRoads, OneCyclicReadFromRebuildToTheHostsValues)
{
    ModuleLibrary module;
    ASSERT_TRUE(module.isComplete()) << module.error();
    const ModuleEntryPoints& api = module.api();
    qint32 comInfo[ComInfoWord::Count] = {};
    comInfo[ComInfoWord::BlockSize] = 64;
    comInfo[ComInfoWord::RetryLimit] = 2;
    api.SetComInfo(comInfo);

    PlcResponder plc;
    plc.setWord(0x10C8, 0x1234); // D100
    plc.setWord(0x10CA, 0xABCD); // D101

    const QList<HostVarDef> vars = {dataRegister(100, "D100"), dataRegister(101, "D101")};
    EXPECT_EQ(api.ReCreatReadVarList(vars), 1);

    RequestFrame* frame = api.ComCommunication();
    ASSERT_NE(frame, nullptr);
    // Block read "0" of 4 bytes at 0x10C8. Sum of "010C804" and ETX:
    // 30+31+30+43+38+30+34+03 = 0x173, low byte 73.
    EXPECT_EQ(frame->FrameBytes, fromHexBytes("02 30 31 30 43 38 30 34 03 37 33"));
    EXPECT_EQ(frame->SendLength, 11);
    EXPECT_EQ(frame->ReplyLength, 12);

    QByteArray reply = plc.answer(frame->FrameBytes);
    ASSERT_EQ(reply.size(), 12);
    EXPECT_EQ(api.DataCom(reply), 1);

    QByteArray values;
    EXPECT_EQ(api.GetRegisterData(QStringLiteral("D"), 100, 0, values, 2), 1);
    EXPECT_EQ(values, fromHexBytes("34 12 CD AB"));
}

TEST(HostRoads, OneQueuedWriteFromTheHostToTheNotice)
{
    ModuleLibrary module;
    ASSERT_TRUE(module.isComplete()) << module.error();
    const ModuleEntryPoints& api = module.api();
    qint32 comInfo[ComInfoWord::Count] = {};
    comInfo[ComInfoWord::BlockSize] = 64;
    comInfo[ComInfoWord::RetryLimit] = 2;
    comInfo[ComInfoWord::WriteMode] = WriteModeQueue;
    comInfo[ComInfoWord::CallbackTag] = 55;
    api.SetComInfo(comInfo);
    notices.clear();
    api.RegistCallBackFuncIntf(recordNotice, 0);

    PlcResponder plc;
    EXPECT_EQ(api.SetRegisterData(QStringLiteral("D"), 100, 0, fromHexBytes("34 12"), 1), 1);

    RequestFrame* frame = api.ComCommunication();
    ASSERT_NE(frame, nullptr);
    // Block write "1" of 2 bytes at 0x10C8 carrying 34 12. Sum of
    // "110C8023412" and ETX: 0x23C, low byte 3C.
    EXPECT_EQ(frame->FrameBytes,
              fromHexBytes("02 31 31 30 43 38 30 32 33 34 31 32 03 33 43"));
    EXPECT_EQ(frame->ReplyLength, 1);

    const QByteArray reply = plc.answer(frame->FrameBytes);
    EXPECT_EQ(reply, QByteArray(1, '\x06'));
    EXPECT_TRUE(notices.empty());
    QByteArray ack = reply;
    EXPECT_EQ(api.DataCom(ack), 1);
    EXPECT_EQ(plc.wordAt(0x10C8), 0x1234);

    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].tag, 55);
    EXPECT_EQ(notices[0].hostId, 0);     // items SetRegisterData makes
    EXPECT_EQ(notices[0].hostSubId, -1);
    EXPECT_EQ(notices[0].status, CompletionGood);
    EXPECT_EQ(api.ComCommunication(), nullptr); // nothing left to do
}

} // namespace
