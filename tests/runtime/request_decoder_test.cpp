// Request frames read back, strictly, and described as --trace shows them:
// a write's data bytes in memory order after its colon. The frames are the
// protocol's worked examples, their sums added by hand.

#include "frame_trace.h"
#include "request_decoder.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

const struct {
    const char* frame;
    const char* described;
} kFrames[] = {
    {"05", "ENQ (is a PLC there?)"},
    {"02 30 31 30 43 38 30 32 03 37 31", "read 2 bytes at 0x10C8 (D100)"},
    {"02 30 30 30 38 30 30 31 03 35 43", "read 1 byte at 0x0080 (X0)"},
    // 30+30+31+45+30+30+31+03 = 0x16A; 30+30+43+30+43+30+34+03 = 0x17D (C203 is 32CV index 3).
    {"02 30 30 31 45 30 30 31 03 36 41", "read 1 byte at 0x01E0 (M8000)"},
    {"02 30 30 43 30 43 30 34 03 37 44", "read 4 bytes at 0x0C0C (C203)"},
    // 30+30+32+30+30+30+31+03 = 0x156: nothing lies at 0x0200.
    {"02 30 30 32 30 30 30 31 03 35 36", "read 1 byte at 0x0200 (no device)"},
    {"02 31 31 30 43 38 30 32 33 34 31 32 03 33 43", "write 2 bytes at 0x10C8 (D100): 3412"},
    // The force's bit address goes low byte first: 00 05 is 0x0500.
    {"02 37 30 30 30 35 03 46 46", "force ON bit 0x0500 (Y0)"},
    {"02 38 32 32 30 46 03 31 35", "force OFF bit 0x0F22 (M8034)"},
    {"02 30 30 30 38 30 30 31 03 35 63", "not a valid request: sum check 5c where 5C is due"},
    {"02 30 31 30 43 38 30 32 03 37 32", "not a valid request: sum check 72 where 71 is due"},
    {"02 30 31 30 63 38 30 32 03 39 31", "not a valid request: address or count not in upper-case hex"},
    {"02 31 31 30 43 38 30 32 33 34 03 31 32", "not a valid request: 13 bytes where the command calls for 15"},
    {"02 39 30 30 03 36 43", "not a valid request: unknown command '9'"},
    {"30 31 30 43", "not a valid request: no STX"},
};

TEST(RequestDecoder, ReadsFramesBackStrictlyAsTheTraceShowsThem)
{
    for (const auto& row : kFrames)
        EXPECT_EQ(describeRequest(fromHexBytes(row.frame)), QString::fromUtf8(row.described)) << row.frame;
}

} // namespace
