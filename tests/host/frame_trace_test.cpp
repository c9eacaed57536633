// What --trace says about frames: the protocol's worked frames, decoded.

#include "frame_trace.h"
#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

struct RequestRow {
    const char* name;
    const char* frame;
    const char* meaning;
};

const RequestRow kRequestRows[] = {
    {"ReadD100", "02 30 31 30 43 38 30 32 03 37 31", "read 2 bytes at 0x10C8 (D100)"},
    {"ReadX0", "02 30 30 30 38 30 30 31 03 35 43", "read 1 byte at 0x0080 (X0)"},
    {"ReadCounterContactsNotM", "02 30 30 31 43 30 30 31 03 36 38", "read 1 byte at 0x01C0 (C0)"},
    {"ReadSpecialRelays", "02 30 30 31 45 30 30 31 03 36 41", "read 1 byte at 0x01E0 (SM8000)"},
    {"ForceOnY0", "02 37 30 30 30 35 03 46 46", "force ON bit 0x0500 (Y0)"},
    {"ForceOnM100", "02 37 36 34 30 38 03 30 43", "force ON bit 0x0864 (M100)"},
    {"ForceOnSM8002", "02 37 30 32 30 46 03 31 32", "force ON bit 0x0F02 (SM8002)"},
    {"WriteD100", "02 31 31 30 43 38 30 32 33 34 31 32 03 33 43", "write 2 bytes at 0x10C8 (D100): 3412"},
    {"WriteC200", "02 31 30 43 30 30 30 34 37 38 35 36 33 34 31 32 03 30 46",
     "write 4 bytes at 0x0C00 (32CV200): 78563412"},
    {"Enquiry", "05", "ENQ (is a PLC there?)"},
};

class RequestMeaning : public ::testing::TestWithParam<RequestRow> {};

TEST_P(RequestMeaning, NamesCommandAddressRegisterAndCount)
{
    const RequestRow& row = GetParam();
    EXPECT_EQ(describeRequest(fromHexBytes(row.frame)), QLatin1String(row.meaning));
}

INSTANTIATE_TEST_SUITE_P(WorkedFrames, RequestMeaning, ::testing::ValuesIn(kRequestRows),
                         [](const ::testing::TestParamInfo<RequestRow>& info) { return std::string(info.param.name); });

TEST(FrameTrace, ShowsControlBytesByName)
{
    EXPECT_EQ(frameText(fromHexBytes("02 30 31 30 43 38 30 32 03 37 31")), QLatin1String("<STX>010C802<ETX>71"));
    EXPECT_EQ(hexBytes(fromHexBytes("02 0a")), QLatin1String("02 0A"));
}

TEST(FrameTrace, TellsRepliesApart)
{
    EXPECT_EQ(describeReply(fromHexBytes("06")), QLatin1String("ACK"));
    EXPECT_EQ(describeReply(fromHexBytes("15")), QLatin1String("NAK"));
    EXPECT_EQ(describeReply(QByteArray()), QLatin1String("no reply"));
    EXPECT_EQ(describeReply(fromHexBytes("02 31 32 33 34 03 43 44")), QLatin1String("data 2 bytes"));
    EXPECT_EQ(describeReply(fromHexBytes("02 31 32")), QLatin1String("3 bytes, not a whole reply"));
    EXPECT_EQ(describeRequest(fromHexBytes("02 39 30 30 30 35 03 30 30")), QLatin1String("unknown command '9'"));
}

} // namespace
