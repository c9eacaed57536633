// Reply timeouts that follow the line and the PLC's pace, 10 bits a
// character, and a reply collected up to the length its request expects.

#include "line_pace.h"
#include "line_timing.h"
#include "reply_collector.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

TEST(LineTiming, AReplyIsDueAfterItsCharactersAtTheBaudRatePlusTheAllowance)
{
    // A one-word read at 9600 baud: 11 + 8 characters, 190 bits, 19,791 us.
    EXPECT_EQ(LineTiming::wireTimeUs(19, 9600), 19791);
    EXPECT_EQ(LinePace(9600, 200, false).timeoutUs(11, 8), 19791 + 200000);
    // A 64-byte read: 11 + 132 characters, 1430 bits, 148,958 us.
    EXPECT_EQ(LinePace(9600, 0, false).timeoutUs(11, 132), 148958);
    EXPECT_EQ(LinePace(0, 200, false).timeoutUs(11, 8), 200000); // unknown baud: the allowance
    // Learnt: half as much again as a 600 ms answer, and 20 ms.
    LinePace pace(9600, 200, true);
    pace.answered(19791 + 600000, 11, 8);
    EXPECT_EQ(pace.allowanceMs(), 920);
}

TEST(ReplyCollector, TakesTheExpectedLengthFromPiecesAndEndsAtALoneNak)
{
    ReplyCollector data(8);
    data.take(fromHexBytes("02 31 32"));
    data.take(fromHexBytes("33 34 03 43 44 06")); // the stray byte after the sum is dropped
    EXPECT_EQ(data.reply(), fromHexBytes("02 31 32 33 34 03 43 44"));
    ReplyCollector nak(8);
    nak.take(fromHexBytes("15 02 31"));
    EXPECT_TRUE(nak.isComplete());
    EXPECT_EQ(nak.reply(), fromHexBytes("15"));
}

} // namespace
