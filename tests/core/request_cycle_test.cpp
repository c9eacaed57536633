// The request cycle as scenarios: a driver object, a test PLC answering its
// frames, and what a host sees: the frames, the ComInfo words and the
// completion notices.

#include "core/driver_harness.h"
#include "virtual_plc.h"

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
    // One request (a frame in flight, or the next) and the test PLC's reply:
    // DataCom's result, or -1 for no request.
    qint32 exchange(VarItem* item = nullptr)
    {
        RequestFrame* frame = h.driver.ComCommunication();
        if (!frame)
            return -1;
        if (item)
            *item = frame->Item;
        requests.append(frame->FrameBytes);
        return h.driver.DataCom(plc.receive(frame->FrameBytes));
    }
    qint32 scanComplete() const { return h.comInfo[ComInfoWord::ScanComplete]; }

    DriverHarness h;
    VirtualPlc plc;
    QList<QByteArray> requests; // every request sent
};

// Writes D0..D5, one-shot reads D100..D150, the cyclic block D500.
TEST_F(RequestCycle, WritesThenOneShotReadsEachGetFiveTurnsThenOneCyclicBlock)
{
    EXPECT_EQ(exchange(), -1); // all lists empty: nothing to send, the scan is complete
    EXPECT_EQ(scanComplete(), 1);
    h.driver.AddListReadVar(makeItem("D", 500, 1));
    for (int i = 0; i < 6; ++i) {
        h.driver.AddListWriteVar(makeItem("D", i, 1, "00 00", i));
        VarItem once = makeItem("D", 100 + 10 * i, 1, "", 20 + i);
        h.driver.AddListOnceReadVar(once);
    }
    std::string lists; // W write, O one-shot read, C cyclic block
    for (int i = 0; i < 13; ++i) {
        VarItem item;
        ASSERT_EQ(exchange(&item), 1);
        lists += item.OpKind == OpKindWrite ? 'W' : item.Addr == 500 ? 'C' : 'O';
    }
    EXPECT_EQ(lists, "WWWWWOOOOOCWO");
    EXPECT_EQ(notices.size(), 12u);
    EXPECT_EQ(notices[5], (Notice{77, 20, 0, CompletionGood}));
}

// Failed replies add up across requests: a good reply does not reset the count,
// so with RetryLimit 2 the third failure in all gives up.
TEST_F(RequestCycle, FailuresResendTheSameFrameUntilTheyAddUpPastTheLimit)
{
    h.driver.AddListReadVar(makeItem("D", 0, 1));
    h.driver.AddListReadVar(makeItem("D", 10, 1));
    plc.queueFault(FaultKind::Drop);
    EXPECT_EQ(exchange(), ReplyResend);
    EXPECT_EQ(exchange(), 1);
    h.comInfo[ComInfoWord::ScanComplete] = 1;
    plc.queueFault(FaultKind::Drop, 2);
    EXPECT_EQ(exchange(), ReplyResend);
    EXPECT_EQ(exchange(), ReplyMissing); // D10 is given up
    EXPECT_EQ(requests.at(2), requests.at(3));
    EXPECT_EQ(h.comInfo[ComInfoWord::RetryCount], 0);
    EXPECT_EQ(scanComplete(), 0);
    EXPECT_EQ(spansOf(h.requestItems(2)), "D:0+1 D:10+1"); // the given-up block went last
}

// A given-up request returns its reply's code plus the item's HostId when
// that lies in 0..11: bad frame (a NAK) 11, no reply 41, wrong length 71.
TEST_F(RequestCycle, GivenUpCodesCarryTheHostIdFromZeroToEleven)
{
    h.comInfo[ComInfoWord::RetryLimit] = 0;
    const std::pair<qint32, std::array<qint32, 3>> rows[] = {
        {0, {11, 41, 71}}, {3, {14, 44, 74}}, {11, {22, 52, 82}}, {12, {11, 41, 71}}, {-1, {11, 41, 71}}};
    const char* const replies[] = {"15", "", "06 06"};
    for (const auto& [hostId, codes] : rows) {
        for (int k = 0; k < 3; ++k) {
            h.driver.AddListWriteVar(makeItem("D", 0, 1, "00 00", hostId));
            const RequestFrame* frame = h.driver.ComCommunication();
            if (!frame) // the empty turn after five writes in a row
                frame = h.driver.ComCommunication();
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(h.driver.DataCom(fromHexBytes(replies[k])), codes[k]) << "HostId " << hostId;
        }
    }
}

// A variable (one HostId and HostSubId, nothing else) written in several
// items is notified once, by its last item, with that item's status: a NAK
// gives the first item up and the good replies after it clear the failure.
// A given-up write alone reports 2.
TEST_F(RequestCycle, AVariableIsNotifiedByItsLastItemAndGivenUpOnesReportTwo)
{
    h.comInfo[ComInfoWord::RetryLimit] = 0;
    const std::pair<qint32, qint32> ids[] = {{4, 5}, {4, 6}, {8, 5}, {4, 5}, {3, 9}};
    for (int i = 0; i < 5; ++i)
        h.driver.AddListWriteVar(makeItem("D", 10 * i, 1, "00 00", ids[i].first, ids[i].second));
    plc.queueFault(FaultKind::Nak);
    EXPECT_EQ(exchange(), ReplyBadFrame + 4); // the item's HostId 4 is added
    EXPECT_TRUE(notices.empty());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(exchange(), 1);
    plc.queueFault(FaultKind::Drop);
    EXPECT_EQ(exchange(), ReplyMissing + 3);
    EXPECT_EQ(notices, (std::vector<Notice>{{77, 4, 6, CompletionGood},
                                            {77, 8, 5, CompletionGood},
                                            {77, 4, 5, CompletionGood},
                                            {77, 3, 9, CompletionGivenUp}}));
}

// ScanComplete turns 1 once more transactions have ended well than the read
// list holds blocks (3 blocks: the 4th), counted afresh after any failed reply
// (f, resent) or rebuild. The blocks carry the ComInfo station and item
// parameters, HostSubId -1.
TEST_F(RequestCycle, ScanCompletesAfterOneMoreGoodTransactionThanBlocks)
{
    const std::pair<const char*, const char*> rows[] = {
        // replies     ScanComplete after each
        {"gggg",      "0001"},
        {"ggfgggg",   "0000001"},
        {"gggfgggg",  "00000001"},
    };
    for (const auto& [replies, expected] : rows) {
        h.comInfo[ComInfoWord::ScanComplete] = 1;
        h.comInfo[ComInfoWord::StationNo] = 3;
        h.comInfo[ComInfoWord::ItemParam1] = 5;
        h.comInfo[ComInfoWord::ItemParam2] = -6;
        h.driver.ReCreatReadVarList(
            {makeVar("D", 0, 1), makeVar("D", 200, 1), makeVar("D", 400, 1)});
        std::string seen;
        VarItem block;
        for (const char* r = replies; *r; ++r) {
            if (*r == 'f')
                plc.queueFault(FaultKind::Drop);
            EXPECT_EQ(exchange(&block), *r == 'f' ? ReplyResend : 1);
            seen += static_cast<char>('0' + scanComplete());
        }
        EXPECT_EQ(seen, expected) << replies;
        EXPECT_EQ((std::array{block.StationNo, block.HostSubId, block.ItemParam1, block.ItemParam2}),
                  (std::array{3, -1, 5, -6}));
    }
    EXPECT_EQ(h.driver.ReCreatReadVarList({}), 0); // an empty host list leaves the scan as it is
    EXPECT_EQ(scanComplete(), 1);
}

// The frame in flight holds its own copy of the block: a rebuild meanwhile
// does not change where its reply goes, and the new list stays as built.
TEST_F(RequestCycle, ARebuildWhileABlockIsInFlightStoresItsReplyWhereItAsked)
{
    plc.setWord(0x1000 + 2 * 100, 0x1234);
    h.driver.ReCreatReadVarList({makeVar("D", 100, 1)});
    ASSERT_NE(h.driver.ComCommunication(), nullptr);
    h.driver.ReCreatReadVarList({makeVar("D", 300, 2)});
    EXPECT_EQ(exchange(), 1); // the frame in flight, D100
    EXPECT_EQ(h.get("D", 99, 3), fromHexBytes("00 00 34 12 00 00"));
    EXPECT_EQ(spansOf(h.requestItems(1)), "D:300+2");
}

// Every build opens a transaction of its frames, whatever the words held:
// a D_bit pair two (a read of the D word, then the completed write of the
// item), anything else one. The write shows in the image when it is built;
// a D_bit write does not.
TEST_F(RequestCycle, ABuildOpensATransactionOfItsFramesAndAWriteShowsAtOnce)
{
    plc.setWord(0x1014, 0x0001); // D10, bit 0 on
    h.driver.AddListWriteVar(makeItem("D_bit", 163, 1, "01", 6)); // bit 3 of D10
    h.driver.AddListWriteVar(makeItem("D", 200, 2, "01 00 FF FF", 7));
    h.comInfo[ComInfoWord::FramesQueued] = 77;
    h.comInfo[ComInfoWord::FramesAnswered] = 55;
    RequestFrame* frame = h.driver.ComCommunication(); // the read of D10
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ((std::array{frame->Item.OpKind, frame->Item.Addr}), (std::array{OpKindReadBeforeWrite, 10}));
    EXPECT_EQ(h.get("D", 10, 1), fromHexBytes("00 00")); // not shown when built
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ((std::array{h.comInfo[ComInfoWord::FramesQueued], h.comInfo[ComInfoWord::FramesAnswered]}),
              (std::array{2, 1}));
    EXPECT_TRUE(notices.empty());
    VarItem writeHalf;
    EXPECT_EQ(exchange(&writeHalf), 1); // the write of D10 = 0x0009
    EXPECT_EQ((std::array{writeHalf.OpKind, writeHalf.Addr}), (std::array{OpKindWrite, 163}));
    EXPECT_EQ(plc.word(0x1014), 0x0009);
    EXPECT_EQ(h.get("D", 10, 1), fromHexBytes("01 00")); // as read, not as written
    EXPECT_EQ(notices, (std::vector<Notice>{{77, 6, 0, CompletionGood}}));
    ASSERT_NE(h.driver.ComCommunication(), nullptr); // D200, D201
    EXPECT_EQ((std::array{h.comInfo[ComInfoWord::FramesQueued], h.comInfo[ComInfoWord::FramesAnswered]}),
              (std::array{1, 0}));
    EXPECT_EQ(h.get("D", 200, 2), fromHexBytes("01 00 FF FF"));
}

// Inputs have no write request: the item stays first and is never sent, but
// the image takes its value when the cycle comes to it.
TEST_F(RequestCycle, AnXWriteBuildsNothingButShowsInTheImage)
{
    h.driver.AddListWriteVar(makeItem("X", 9, 1, "01")); // X11 octal
    EXPECT_EQ(exchange(), -1);
    EXPECT_EQ(h.get("X", 8, 2), fromHexBytes("00 01"));
}

// While the PLC is not answering, a write is built as usual and the image is
// left alone; the PLC's ACK ends it well.
TEST_F(RequestCycle, WhileCommFailedAWriteIsBuiltButLeavesTheImageAlone)
{
    h.comInfo[ComInfoWord::RetryLimit] = 0;
    h.driver.AddListReadVar(makeItem("D", 0, 1));
    plc.queueFault(FaultKind::Drop);
    EXPECT_EQ(exchange(), ReplyMissing);
    h.driver.AddListWriteVar(makeItem("D", 100, 1, "34 12"));
    ASSERT_NE(h.driver.ComCommunication(), nullptr);
    EXPECT_EQ(h.get("D", 100, 1), fromHexBytes("00 00"));
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ(plc.word(0x10C8), 0x1234);
}

} // namespace
