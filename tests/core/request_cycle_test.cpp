// The request cycle as scenarios: a driver object, a test PLC answering its
// frames, and a recorder for the completion notices.

#include "core/driver_harness.h"
#include "support/plc_responder.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct Notice {
    qint32 tag, hostId, hostSubId, status;
    bool operator==(const Notice& o) const
    {
        return tag == o.tag && hostId == o.hostId && hostSubId == o.hostSubId && status == o.status;
    }
};

void PrintTo(const Notice& n, std::ostream* os)
{
    *os << '{' << n.tag << ", " << n.hostId << ", " << n.hostSubId << ", " << n.status << '}';
}

std::vector<Notice> notices;

void recordNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    notices.push_back({tag, hostId, hostSubId, status});
}

const QByteArray kWord(2, '\0');

class RequestCycle : public ::testing::Test {
protected:
    RequestCycle()
    {
        notices.clear();
        h.word(ComInfoWord::RetryLimit) = 2;
        h.word(ComInfoWord::CallbackTag) = 77;
        driver.RegistCallBackFuncIntf(recordNotice, 0);
    }

    // One request and its reply from the test PLC (or nothing when the PLC
    // stays silent); returns DataCom's result.
    qint32 exchange(bool answered = true)
    {
        RequestFrame* frame = driver.ComCommunication();
        if (!frame) {
            ADD_FAILURE() << "no request to send";
            return -1;
        }
        sent.push_back(frame->FrameBytes);
        return driver.DataCom(answered ? plc.answer(frame->FrameBytes) : QByteArray());
    }

    // The command character of every request sent so far ("0" read, "1" write).
    std::string commands() const
    {
        std::string out;
        for (const QByteArray& frame : sent)
            out += frame.at(1);
        return out;
    }

    DriverHarness h;
    Tavrin& driver = h.driver;
    PlcResponder plc;
    std::vector<QByteArray> sent;
};

TEST_F(RequestCycle, AllListsEmptyGivesNothingAndCompletesTheScan)
{
    driver.ListKind = ListKindValue::OnceRead;
    driver.WriteRun = 3;
    EXPECT_EQ(driver.ComCommunication(), nullptr);
    EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 1);
    EXPECT_EQ(driver.ListKind, ListKindValue::OnceRead);
    EXPECT_EQ(driver.WriteRun, 0);
}

TEST_F(RequestCycle, SevenWritesAndOneCyclicBlockGoFiveOneTwo)
{
    driver.AddListReadVar(makeItem("D", 500, 1));
    for (int i = 0; i < 7; ++i)
        driver.AddListWriteVar(makeWrite("D", i, 1, kWord, i));
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(exchange(), 1);
    EXPECT_EQ(commands(), "11111011");
    EXPECT_EQ(notices.size(), 7u);
    EXPECT_EQ(notices.back().hostId, 6);
}

TEST_F(RequestCycle, WritesThenOneShotReadsEachGetFiveTurnsThenOneCyclicBlock)
{
    driver.AddListReadVar(makeItem("D", 500, 1));
    for (int i = 0; i < 6; ++i) {
        driver.AddListWriteVar(makeWrite("D", i, 1, kWord, i));
        VarItem once = makeItem("D", 100 + 10 * i, 1, 20 + i);
        driver.AddListOnceReadVar(once);
    }
    std::vector<qint32> kinds;
    for (int i = 0; i < 13; ++i) {
        ASSERT_EQ(exchange(), 1);
        kinds.push_back(driver.ListKind);
    }
    EXPECT_EQ(kinds, (std::vector<qint32>{1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 0, 1, 2}));
}

TEST_F(RequestCycle, NoRepliesResendTheSameFrameUntilTheLimit)
{
    driver.AddListReadVar(makeItem("D", 100, 1));
    RequestFrame* first = driver.ComCommunication();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(driver.DataCom(QByteArray()), ReplyResend);
    EXPECT_EQ(h.word(ComInfoWord::RetryCount), 1);
    EXPECT_EQ(driver.ComCommunication(), first);
    EXPECT_EQ(driver.DataCom(QByteArray()), ReplyResend);
    EXPECT_EQ(driver.ComCommunication(), first);
    EXPECT_EQ(driver.DataCom(QByteArray()), ReplyMissing);
    EXPECT_EQ(h.word(ComInfoWord::RetryCount), 0);
    EXPECT_EQ(driver.CommFailed, 1);
    EXPECT_TRUE(driver.FrameQueue.isEmpty());
}

TEST_F(RequestCycle, RetryLimitZeroGivesUpAtTheFirstFailure)
{
    h.word(ComInfoWord::RetryLimit) = 0;
    driver.AddListWriteVar(makeWrite("D", 0, 1, kWord, 3, 9));
    plc.queueFault(PlcResponder::Fault::Nak);
    EXPECT_EQ(exchange(), ReplyBadFrame + 3); // the item's HostId 3 is added
    EXPECT_EQ(notices, (std::vector<Notice>{{77, 3, 9, CompletionGivenUp}}));
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
}

TEST_F(RequestCycle, FailedRepliesAddUpAcrossRequests)
{
    h.word(ComInfoWord::RetryLimit) = 3;
    driver.AddListReadVar(makeItem("D", 0, 1));
    driver.AddListReadVar(makeItem("D", 10, 1));
    EXPECT_EQ(exchange(false), ReplyResend);
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ(h.word(ComInfoWord::RetryCount), 1); // a good reply keeps the count
    EXPECT_EQ(exchange(false), ReplyResend);
    EXPECT_EQ(exchange(false), ReplyResend);
    EXPECT_EQ(exchange(false), ReplyMissing); // the fourth failure in all
    EXPECT_EQ(h.word(ComInfoWord::RetryCount), 0);
    EXPECT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[2], sent[4]); // the second block, sent three times
}

TEST_F(RequestCycle, WriteSplitInThreeNotifiesOnceWithTheLastStatus)
{
    h.word(ComInfoWord::RetryLimit) = 0;
    for (int i = 0; i < 3; ++i)
        driver.AddListWriteVar(makeWrite("D", 10 * i, 1, kWord, 4, 5));
    plc.queueFault(PlcResponder::Fault::Silence);
    EXPECT_EQ(exchange(), ReplyMissing + 4); // the first block is given up
    EXPECT_EQ(exchange(), 1);
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ(notices, (std::vector<Notice>{{77, 4, 5, CompletionGood}}));
}

TEST_F(RequestCycle, TwoWritesOfDifferentVariablesNotifyInListOrder)
{
    driver.AddListWriteVar(makeWrite("D", 0, 1, kWord, 1, 0));
    driver.AddListWriteVar(makeWrite("M", 5, 1, QByteArray(1, '\1'), 1, 1));
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ(exchange(), 1);
    EXPECT_EQ(notices,
              (std::vector<Notice>{{77, 1, 0, CompletionGood}, {77, 1, 1, CompletionGood}}));
    EXPECT_EQ(plc.byteAt(0x0800 / 8 + 5 / 8) & 0x20, 0x20); // force ON of M5 reached the PLC
}

TEST_F(RequestCycle, GivenUpWriteReportsTwoAndFailsUntilTheNextGoodReply)
{
    h.word(ComInfoWord::RetryLimit) = 1;
    driver.AddListWriteVar(makeWrite("D", 0, 1, kWord, 2, 0));
    driver.AddListReadVar(makeItem("D", 0, 1));
    plc.queueFault(PlcResponder::Fault::Silence, 2);
    EXPECT_EQ(exchange(), ReplyResend);
    EXPECT_EQ(driver.CommFailed, 0);
    EXPECT_EQ(exchange(), ReplyMissing + 2);
    EXPECT_EQ(notices, (std::vector<Notice>{{77, 2, 0, CompletionGivenUp}}));
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
    EXPECT_EQ(driver.CommFailed, 1);
    EXPECT_EQ(exchange(), 1); // the cyclic block
    EXPECT_EQ(driver.CommFailed, 0);
}

TEST_F(RequestCycle, DataBitWriteReadsThenWritesTheCompletedWord)
{
    // Bit 3 of D10 (index 163) set; the PLC holds D10 = 0.
    driver.AddListWriteVar(makeWrite("D_bit", 163, 1, QByteArray(1, '\1'), 6, 2));
    RequestFrame* read = driver.ComCommunication();
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->FrameBytes, fromHexBytes("02 30 31 30 31 34 30 32 03 35 42"));
    EXPECT_EQ(driver.DataCom(plc.answer(read->FrameBytes)), 1);
    EXPECT_EQ(h.word(ComInfoWord::FramesAnswered), 1);
    EXPECT_EQ(h.word(ComInfoWord::FramesQueued), 2);
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(driver.WriteVarList.size(), 1);

    RequestFrame* write = driver.ComCommunication();
    ASSERT_NE(write, nullptr);
    // "1", "1014", "02", "0800" (0x0008 low byte first), ETX: 0x224, sum "24".
    EXPECT_EQ(write->FrameBytes, fromHexBytes("02 31 31 30 31 34 30 32 30 38 30 30 03 32 34"));
    EXPECT_EQ(driver.DataCom(plc.answer(write->FrameBytes)), 1);
    EXPECT_EQ(notices, (std::vector<Notice>{{77, 6, 2, CompletionGood}}));
    EXPECT_TRUE(driver.WriteVarList.isEmpty());
    EXPECT_EQ(plc.wordAt(0x1000 + 2 * 10), 0x0008);
}

TEST_F(RequestCycle, ScanCompletesAfterTheFourthGoodTransactionOverThreeBlocks)
{
    h.word(ComInfoWord::ScanComplete) = 1;
    ASSERT_EQ(driver.ReCreatReadVarList({makeVar("D", 0, 1), makeVar("D", 200, 1),
                                         makeVar("D", 400, 1)}),
              3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 0);
        ASSERT_EQ(exchange(), 1);
    }
    EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 0);
    EXPECT_EQ(driver.ScanCount, 3);
    ASSERT_EQ(exchange(), 1);
    EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 1);
    EXPECT_EQ(driver.ScanCount, 0);
}

TEST_F(RequestCycle, GivenUpCyclicBlockMovesToTheEnd)
{
    h.word(ComInfoWord::RetryLimit) = 0;
    driver.AddListReadVar(makeItem("D", 0, 1));
    driver.AddListReadVar(makeItem("D", 100, 1));
    EXPECT_EQ(exchange(false), ReplyMissing);
    EXPECT_EQ(driver.ReadVarList.first().Addr, 100);
    EXPECT_EQ(driver.ReadVarList.at(1).Addr, 0);
    EXPECT_EQ(h.word(ComInfoWord::ScanComplete), 0);
}

TEST_F(RequestCycle, RebuildWhileABlockIsInFlight)
{
    driver.AddListReadVar(makeItem("D", 7, 1));
    plc.setWord(0x1000 + 2 * 7, 0xBEEF);
    RequestFrame* frame = driver.ComCommunication();
    ASSERT_NE(frame, nullptr);
    driver.ReCreatReadVarList({makeVar("D", 100, 1), makeVar("D", 300, 1)});
    EXPECT_EQ(driver.DataCom(plc.answer(frame->FrameBytes)), 1);
    EXPECT_EQ(driver.Image.D[7], 0xBEEF); // decoded against the frame's own copy
    EXPECT_EQ(driver.ReadVarList.first().Addr, 300);
    EXPECT_EQ(driver.ReadVarList.at(1).Addr, 100);
}

TEST_F(RequestCycle, ItemWithoutAFrameStaysFirst)
{
    driver.AddListWriteVar(makeWrite("X", 0, 1, QByteArray(1, '\1'), 1));
    EXPECT_EQ(driver.ComCommunication(), nullptr);
    EXPECT_EQ(driver.WriteVarList.size(), 1);
    EXPECT_EQ(driver.ListKind, ListKindValue::Write);
}

} // namespace
