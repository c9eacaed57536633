// Judging replies against the head request and decoding accepted data into
// the image: result codes with their HostId offsets, framing and sum checks
// (sums by hand), and the worked decoding examples.

#include "core/driver_object.h"
#include "image/reply_check.h"
#include "support/qt_printers.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace {

class ReplyValidation : public ::testing::Test {
protected:
    void SetUp() override { driver.SetComInfo(comInfo); }

    // The head request, as the read builder would queue it for n data bytes.
    void expectRead(const char* regName, qint32 addr, qint32 dataBytes, qint32 hostId = 0)
    {
        RequestFrame frame;
        frame.ReplyLength = 2 * dataBytes + 4;
        frame.DataStart = 1;
        frame.DataChars = 2 * dataBytes;
        frame.Item.RegName = QString::fromLatin1(regName);
        frame.Item.Addr = addr;
        frame.Item.HostId = hostId;
        driver.FrameQueue.append(frame);
    }
    // The head request, as a write or force answered by ACK.
    void expectAck(qint32 hostId = 0)
    {
        RequestFrame frame;
        frame.ReplyLength = 1;
        frame.Item.RegName = QStringLiteral("D");
        frame.Item.HostId = hostId;
        driver.FrameQueue.append(frame);
    }
    qint32 validate(const char* replyHex)
    {
        const QByteArray reply = fromHexBytes(replyHex);
        return driver.ValidateReply(reply, static_cast<qint32>(reply.size()));
    }
    bool imageIsZero() const
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&driver.Image);
        for (size_t i = 0; i < sizeof(driver.Image); ++i) {
            if (bytes[i] != 0)
                return false;
        }
        return true;
    }

    Tavrin driver;
    qint32 comInfo[ComInfoWord::Count] = {};
};

// "1234" for a two-byte read: 0x31 + 0x32 + 0x33 + 0x34 + 0x03 = 0xCD.
constexpr const char* kGoodD100 = "02 31 32 33 34 03 43 44";

TEST_F(ReplyValidation, RepliesToAWriteOrForce)
{
    struct Row {
        const char* reply;
        qint32 result;
    };
    const Row rows[] = {{"06", 1}, {"15", 11}, {"00", 11}, {"02", 11}, {"", 41}, {"06 06", 71}};
    for (const Row& row : rows) {
        driver.FrameQueue.clear();
        expectAck();
        EXPECT_EQ(validate(row.reply), row.result) << row.reply;
    }
    EXPECT_TRUE(imageIsZero());
}

TEST_F(ReplyValidation, GoodDataReplyIsDecodedLowByteFirst)
{
    expectRead("D", 100, 2);
    EXPECT_EQ(validate(kGoodD100), ReplyAccepted);
    EXPECT_EQ(driver.Image.D[100], 0x3412);
    EXPECT_EQ(driver.FrameQueue.size(), 1); // removing the head is the cycle's
}

TEST_F(ReplyValidation, RejectedDataRepliesLeaveTheImageAlone)
{
    struct Row {
        const char* name;
        const char* reply;
        qint32 result;
    };
    const Row rows[] = {
        {"LowercaseSum", "02 31 32 33 34 03 63 64", 11},
        {"WrongSum", "02 31 32 33 34 03 43 45", 11},
        {"NakToARead", "15", 71},
        {"OneByteShort", "02 31 32 33 03 43 44", 71},
        {"Empty", "", 41},
    };
    for (const Row& row : rows) {
        driver.FrameQueue.clear();
        expectRead("D", 100, 2);
        EXPECT_EQ(validate(row.reply), row.result) << row.name;
    }
    EXPECT_TRUE(imageIsZero());
}

TEST_F(ReplyValidation, HostIdOffsetsTheFailureCodesOnlyFromZeroToEleven)
{
    struct Row {
        qint32 hostId;
        qint32 bad, missing, wrongLength;
    };
    const Row rows[] = {{0, 11, 41, 71},  {3, 14, 44, 74},
                        {11, 22, 52, 82}, {12, 11, 41, 71},
                        {-1, 11, 41, 71}, {std::numeric_limits<qint32>::min(), 11, 41, 71}};
    for (const Row& row : rows) {
        driver.FrameQueue.clear();
        expectAck(row.hostId);
        EXPECT_EQ(validate("15"), row.bad) << row.hostId;
        EXPECT_EQ(validate(""), row.missing) << row.hostId;
        EXPECT_EQ(validate("06 06"), row.wrongLength) << row.hostId;
        EXPECT_EQ(validate("06"), ReplyAccepted) << row.hostId;
    }
}

TEST_F(ReplyValidation, CheckFrameNeedsAtLeastOneDataByte)
{
    EXPECT_EQ(CheckFrame(fromHexBytes("06"), 1), CheckFrameAck);
    EXPECT_EQ(CheckFrame(fromHexBytes("15"), 1), CheckFrameBad);
    for (const char* shortReply : {"02 03", "02 03 30", "02 03 30 33", "02 31 03 33 34"})
        EXPECT_EQ(CheckFrame(fromHexBytes(shortReply), QByteArray(fromHexBytes(shortReply)).size()),
                  CheckFrameBad)
            << shortReply;
    EXPECT_EQ(CheckFrame(fromHexBytes("02 41 35 03 37 39"), 6), CheckFrameData);
    EXPECT_EQ(CheckFrame(fromHexBytes(kGoodD100), 8), CheckFrameData);
}

TEST_F(ReplyValidation, CheckFrameNeverLooksBeyondTheReply)
{
    EXPECT_EQ(CheckFrame(QByteArray(), 1), CheckFrameBad);
    EXPECT_EQ(CheckFrame(fromHexBytes("02 31 32"), 8), CheckFrameBad);
    EXPECT_EQ(CheckFrame(fromHexBytes(kGoodD100), -3), CheckFrameBad);
    // A caller's length longer than the array judges the bytes really there.
    EXPECT_EQ(driver.ValidateReply(fromHexBytes("06"), 8), ReplyMissing); // nothing in flight
    expectRead("D", 100, 2);
    EXPECT_EQ(driver.ValidateReply(fromHexBytes("06"), 8), ReplyWrongLength);
    EXPECT_EQ(driver.ValidateReply(QByteArray(), 8), ReplyMissing);
    EXPECT_TRUE(imageIsZero());
}

TEST_F(ReplyValidation, BitBlockBytesLandUnchangedAtAddrOverEight)
{
    expectRead("M", 16, 1);
    EXPECT_EQ(validate("02 41 35 03 37 39"), ReplyAccepted); // "A5"
    EXPECT_EQ(driver.Image.M[2], 0xA5);                      // M16 M18 M21 M23 on
    EXPECT_EQ(driver.Image.M[1], 0x00);
    EXPECT_EQ(driver.Image.M[3], 0x00);
}

TEST_F(ReplyValidation, LowercaseDataDecodesLikeUppercase)
{
    expectRead("M", 16, 1);
    EXPECT_EQ(validate("02 61 35 03 39 39"), ReplyAccepted); // "a5": 0x61 + 0x35 + 3 = 0x99
    EXPECT_EQ(driver.Image.M[2], 0xA5);
}

TEST_F(ReplyValidation, ThirtyTwoBitCountersAreLeastSignificantByteFirst)
{
    expectRead("32CV", 3, 4);
    EXPECT_EQ(validate("02 37 38 35 36 33 34 31 32 03 41 37"), ReplyAccepted); // "78563412"
    EXPECT_EQ(driver.Image.CV32[3], 0x12345678u);
    EXPECT_EQ(driver.Image.CV32[2], 0u);
    EXPECT_EQ(driver.Image.CV32[4], 0u);
}

TEST_F(ReplyValidation, DBitBlocksFillTheDWordsTheyCarry)
{
    expectRead("D_bit", 5, 2);
    EXPECT_EQ(validate(kGoodD100), ReplyAccepted);
    EXPECT_EQ(driver.Image.D[5], 0x3412);
}

TEST_F(ReplyValidation, AcceptedReplyForAnUnknownNameStoresNothing)
{
    expectRead("Q", 100, 2);
    EXPECT_EQ(validate(kGoodD100), ReplyAccepted);
    EXPECT_TRUE(imageIsZero());
}

// Head records the host may have scribbled on: decoding stays inside the
// reply and inside the area.
TEST_F(ReplyValidation, OddRecordsNeverDecodeOutsideReplyOrArea)
{
    RequestFrame frame;
    frame.ReplyLength = 12;
    frame.DataStart = 1;
    frame.DataChars = std::numeric_limits<qint32>::max(); // far more than the reply holds
    frame.Item.RegName = QStringLiteral("D");
    frame.Item.Addr = 7999; // the second word would lie past the D area
    driver.FrameQueue.append(frame);
    // "12345678": 0x31 + ... + 0x38 + 0x03 = 0x1A7.
    EXPECT_EQ(validate("02 31 32 33 34 35 36 37 38 03 41 37"), ReplyAccepted);
    EXPECT_EQ(driver.Image.D[7999], 0x3412);
    EXPECT_EQ(driver.Image.SD[0], 0); // the area after D is untouched

    // DataStart -6: words 0 and 1 would start before the reply, word 2 spans
    // characters 2..5 ("2", "3", "4", ETX), word 3 would run past the end.
    driver.FrameQueue.clear();
    frame.ReplyLength = 8;
    frame.DataStart = -6;
    frame.DataChars = 40;
    frame.Item.Addr = 10;
    driver.FrameQueue.append(frame);
    EXPECT_EQ(validate(kGoodD100), ReplyAccepted);
    EXPECT_EQ(driver.Image.D[10], 0);
    EXPECT_EQ(driver.Image.D[11], 0);
    EXPECT_EQ(driver.Image.D[12], 0x4023); // ETX reads as digit 0
    EXPECT_EQ(driver.Image.D[13], 0);
}

TEST_F(ReplyValidation, ZeroReplyLengthAndHugeReplyLengthAreHandled)
{
    RequestFrame frame;
    frame.ReplyLength = 0;
    driver.FrameQueue.append(frame);
    EXPECT_EQ(validate(""), ReplyBadFrame);
    driver.FrameQueue.first().ReplyLength = std::numeric_limits<qint32>::max();
    EXPECT_EQ(validate(kGoodD100), ReplyWrongLength);
    driver.FrameQueue.first().ReplyLength = -8;
    EXPECT_EQ(driver.ValidateReply(fromHexBytes(kGoodD100), -8), ReplyBadFrame);
}

// The read half of a D_bit pair completes the write queued behind it with
// the word read ("1234" is 0x3412) and the first write item's bit.
TEST_F(ReplyValidation, PairCompletionUsesTheFirstWriteItemWhenThereIsOne)
{
    const QByteArray placeholder = fromHexBytes("02 31 31 30 31 34 30 32 30 30 30 30 03 30 30");
    struct Row {
        const char* name;
        bool writeItem;
        const char* data;
        qint32 opKind;
        QByteArray secondFrame; // as queued
        const char* expected;
    };
    const Row rows[] = {
        {"NoWriteItem", false, "", OpKindReadBeforeWrite, placeholder,
         "02 31 31 30 31 34 30 32 31 32 33 34 03 32 36"},
        {"SetBit3", true, "01", OpKindReadBeforeWrite, placeholder,
         "02 31 31 30 31 34 30 32 31 41 33 34 03 33 35"},
        {"LongerFrameIsCut", true, "01", OpKindReadBeforeWrite, placeholder + "XYZ",
         "02 31 31 30 31 34 30 32 31 41 33 34 03 33 35"},
        {"PlainReadLeavesTheNextFrame", true, "01", OpKindRead, placeholder,
         "02 31 31 30 31 34 30 32 30 30 30 30 03 30 30"},
    };
    for (const Row& row : rows) {
        Tavrin fresh;
        RequestFrame read;
        read.ReplyLength = 8;
        read.DataStart = 1;
        read.DataChars = 4;
        read.Item.RegName = QStringLiteral("D_bit");
        read.Item.OpKind = row.opKind;
        read.Item.Addr = 10;
        RequestFrame write;
        write.FrameBytes = row.secondFrame;
        write.SendLength = 15;
        write.ReplyLength = 1;
        fresh.FrameQueue.append(read);
        fresh.FrameQueue.append(write);
        if (row.writeItem) {
            VarItem item;
            item.RegName = QStringLiteral("D_bit");
            item.Addr = 163;
            item.Data = fromHexBytes(row.data);
            fresh.WriteVarList.append(item);
        }
        const QByteArray reply = fromHexBytes(kGoodD100);
        EXPECT_EQ(fresh.ValidateReply(reply, 8), ReplyAccepted) << row.name;
        EXPECT_EQ(fresh.FrameQueue.at(1).FrameBytes, fromHexBytes(row.expected)) << row.name;
        EXPECT_EQ(fresh.Image.D[10], 0x3412) << row.name; // the word as read
    }
}

} // namespace
