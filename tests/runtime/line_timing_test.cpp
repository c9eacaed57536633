// Reply timeouts that follow the line, 10 bits a character, and a reply
// collected up to the length its request expects.

#include "line_timing.h"
#include "reply_collector.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

TEST(LineTiming, ReplyTimeoutIsLineTimeRoundedUpPlusTheAllowance)
{
    // A one-word read at 9600 baud: 11 + 8 characters, 190 bits, 19.79 ms -> 20 ms.
    EXPECT_EQ(LineTiming::replyTimeoutMs(11, 8, 9600, 200), 220);
    // A 64-byte read: 11 + 132 characters, 148.96 ms -> 149 ms.
    EXPECT_EQ(LineTiming::replyTimeoutMs(11, 132, 9600, 0), 149);
    EXPECT_EQ(LineTiming::replyTimeoutMs(11, 8, 0, 200), 200); // unknown baud: the allowance
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
