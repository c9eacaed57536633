// The request cycle as scenarios: a driver object, a test PLC answering its
// frames, and the completion notices.

#include "core/driver_harness.h"
#include "support/plc_responder.h"

#include <array>
#include <gtest/gtest.h>
#include <vector>

namespace {

using Notice = std::array<qint32, 4>; // CallbackTag, HostId, HostSubId, status
std::vector<Notice> notices;

class RequestCycle : public ::testing::Test {
protected:
    RequestCycle()
    {
        notices.clear();
        h.comInfo[ComInfoWord::RetryLimit] = 2;
        h.comInfo[ComInfoWord::CallbackTag] = 77;
        h.driver.RegistCallBackFuncIntf(
            [](qint32 tag, qint32 id, qint32 sub, qint32 status) {
                notices.push_back({tag, id, sub, status});
            },
            0);
    }
    // One request and the test PLC's reply: DataCom's result, or -1 for no request.
    qint32 exchange()
    {
        RequestFrame* frame = h.driver.ComCommunication();
        return frame ? h.driver.DataCom(plc.answer(frame->FrameBytes)) : -1;
    }

    DriverHarness h;
    PlcResponder plc; // plc.requests(): every request sent
};

TEST_F(RequestCycle, WritesThenOneShotReadsEachGetFiveTurnsThenOneCyclicBlock)
{
    EXPECT_EQ(exchange(), -1); // all lists empty: nothing to send, the scan is complete
    EXPECT_EQ(h.comInfo[ComInfoWord::ScanComplete], 1);
    h.driver.AddListReadVar(makeItem("D", 500, 1));
    for (int i = 0; i < 6; ++i) {
        h.driver.AddListWriteVar(makeItem("D", i, 1, "00 00", i));
        VarItem once = makeItem("D", 100 + 10 * i, 1, "", 20 + i);
        h.driver.AddListOnceReadVar(once);
    }
    std::vector<qint32> kinds;
    for (int i = 0; i < 13; ++i) {
        ASSERT_EQ(exchange(), 1);
        kinds.push_back(h.driver.ListKind);
    }
    EXPECT_EQ(kinds, (std::vector<qint32>{1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 0, 1, 2}));
    EXPECT_EQ(notices.size(), 12u);
    EXPECT_EQ(notices[5], (Notice{77, 20, 0, CompletionGood}));
}

// Failed replies add up across requests: a good reply does not reset the count,
// so with RetryLimit 2 the third failure in all gives up.
TEST_F(RequestCycle, FailuresResendTheSameFrameUntilTheyAddUpPastTheLimit)
{
    h.driver.AddListReadVar(makeItem("D", 0, 1));
    h.driver.AddListReadVar(makeItem("D", 10, 1));
    plc.queueFault(PlcResponder::Fault::Silence);
    EXPECT_EQ(exchange(), ReplyResend);
    EXPECT_EQ(exchange(), 1);
    h.comInfo[ComInfoWord::ScanComplete] = 1;
    plc.queueFault(PlcResponder::Fault::Silence, 2);
    EXPECT_EQ(exchange(), ReplyResend);
    EXPECT_EQ(exchange(), ReplyMissing); // D10 is given up
    EXPECT_EQ(plc.requests().at(2), plc.requests().at(3));
    EXPECT_EQ(h.comInfo[ComInfoWord::RetryCount], 0);
    EXPECT_EQ(h.comInfo[ComInfoWord::ScanComplete], 0);
    EXPECT_EQ(h.driver.ScanCount, 0);                         // it was 1
    EXPECT_EQ(spansOf(h.driver.ReadVarList), "D:0+1 D:10+1"); // the given-up block went last
}

// A variable written in three blocks is notified once, by its last block, with
// that block's status; a given-up block sets CommFailed until a good reply.
TEST_F(RequestCycle, WritesAreNotifiedByTheirLastBlockAndGivenUpOnesReportTwo)
{
    h.comInfo[ComInfoWord::RetryLimit] = 0;
    for (int i = 0; i < 3; ++i)
        h.driver.AddListWriteVar(makeItem("D", 10 * i, 1, "00 00", 4, 5));
    h.driver.AddListWriteVar(makeItem("D", 0, 1, "00 00", 3, 9));
    plc.queueFault(PlcResponder::Fault::Nak);
    EXPECT_EQ(exchange(), ReplyBadFrame + 4); // the item's HostId 4 is added
    EXPECT_EQ(h.driver.CommFailed, 1);
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ(h.driver.CommFailed, 0);
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(exchange(), 1);
    plc.queueFault(PlcResponder::Fault::Silence);
    EXPECT_EQ(exchange(), ReplyMissing + 3);
    EXPECT_EQ(notices,
              (std::vector<Notice>{{77, 4, 5, CompletionGood}, {77, 3, 9, CompletionGivenUp}}));
}

// A rebuild restarts the scan; an empty host list only empties the list. The
// blocks carry the ComInfo station and item parameters, HostSubId -1.
TEST_F(RequestCycle, ScanCompletesAfterTheFourthGoodTransactionOverThreeBlocks)
{
    h.comInfo[ComInfoWord::ScanComplete] = 1;
    h.comInfo[ComInfoWord::StationNo] = 3;
    h.comInfo[ComInfoWord::ItemParam1] = 5;
    h.comInfo[ComInfoWord::ItemParam2] = -6;
    h.driver.ReCreatReadVarList({makeVar("D", 0, 1), makeVar("D", 200, 1), makeVar("D", 400, 1)});
    const VarItem& block = h.driver.ReadVarList.at(2);
    EXPECT_EQ((std::array{block.StationNo, block.HostSubId, block.ItemParam1, block.ItemParam2}),
              (std::array{3, -1, 5, -6}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.comInfo[ComInfoWord::ScanComplete], 0);
        ASSERT_EQ(exchange(), 1);
    }
    ASSERT_EQ(exchange(), 1);
    EXPECT_EQ(h.comInfo[ComInfoWord::ScanComplete], 1);
    EXPECT_EQ(h.driver.ScanCount, 0);
    EXPECT_EQ(spansOf(h.driver.ReadVarList), "D:200+1 D:400+1 D:0+1"); // rotated four times
    EXPECT_EQ(h.driver.ReCreatReadVarList({}), 0);
    EXPECT_EQ(h.comInfo[ComInfoWord::ScanComplete], 1);
}

// The frame in flight holds its own copy of the block: a rebuild meanwhile
// does not change where its reply goes, and the new list stays as built.
TEST_F(RequestCycle, ARebuildWhileABlockIsInFlightStoresItsReplyWhereItAsked)
{
    plc.setWord(0x1000 + 2 * 100, 0x1234);
    h.driver.ReCreatReadVarList({makeVar("D", 100, 1)});
    const RequestFrame* frame = h.driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    const QByteArray reply = plc.answer(frame->FrameBytes);
    h.driver.ReCreatReadVarList({makeVar("D", 300, 2)});
    EXPECT_EQ(h.driver.DataCom(reply), 1);
    QByteArray values;
    h.driver.GetRegisterData(QStringLiteral("D"), 99, 0, values, 3);
    EXPECT_EQ(values, fromHexBytes("00 00 34 12 00 00"));
    EXPECT_EQ(spansOf(h.driver.ReadVarList), "D:300+2");
}

} // namespace
