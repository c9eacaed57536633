// The virtual PLC answers worked requests byte for byte as a programming
// port does: data frames with hand-computed sums, ACK, NAK for refused or
// broken requests, silence for noise, resynchronisation on STX.

#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

namespace {

const char* kReadD100 = "02 30 31 30 43 38 30 32 03 37 31"; // 30+31+30+43+38+30+32+03 = 171
const char* kReplyD100 = "02 33 34 31 32 03 43 44";        // D100 = 0x1234: 33+34+31+32+03 = CD

struct Exchange {
    const char* name;
    const char* request;
    const char* reply;
    qint64 address;    // a byte the request reaches (or must leave alone)
    const char* after; // the bytes there afterwards
};

// Every row starts from D100 = 0x1234, X0..X7 = 0xA5, Y0..Y7 = 0xFF.
const Exchange kExchanges[] = {
    {"WordReadD100", kReadD100, kReplyD100, 0x10C8, "3412"},
    {"BitReadX0ToX7", "02 30 30 30 38 30 30 31 03 35 43", "02 41 35 03 37 39", 0x0080, "A5"},
    // "1" "1190" "04" "0100FFFF": D200 = 1, D201 = 0xFFFF; sum 33C
    {"WriteD200D201", "02 31 31 31 39 30 30 34 30 31 30 30 46 46 46 46 03 33 43", "06", 0x1190,
     "0100FFFF"},
    {"ForceOffY0", "02 38 30 30 30 35 03 30 30", "06", 0x00A0, "FE"},  // sum 100
    {"NakBadSum", "02 30 31 30 43 38 30 32 03 37 32", "15", 0x10C8, "3412"},
    {"NakReadPastD7999", "02 30 34 45 37 46 30 32 03 38 42", "15", 0x4E7E, "0000"},
    {"NakCount65", "02 30 31 30 30 30 34 31 03 35 39", "15", 0x1000, "0000"},
    {"NakWriteInputX0", "02 31 30 30 38 30 30 31 30 30 03 42 44", "15", 0x0080, "A5"},
    {"NakForceOffInputX0", "02 38 30 30 30 34 03 46 46", "15", 0x0080, "A5"}, // bit 0x0400, sum FF
};

class WorkedExchange : public ::testing::TestWithParam<Exchange> {};

TEST_P(WorkedExchange, RepliesAsAPlcAndChangesOnlyWhatItShould)
{
    const Exchange& row = GetParam();
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    plc.setByte(0x0080, 0xA5);
    plc.setByte(0x00A0, 0xFF);
    EXPECT_EQ(plc.receive(fromHexBytes(row.request)), fromHexBytes(row.reply));
    const QByteArray after = QByteArray::fromHex(row.after);
    EXPECT_EQ(plc.readBytes(row.address, static_cast<int>(after.size())), after);
}

INSTANTIATE_TEST_SUITE_P(VirtualPlc, WorkedExchange, ::testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualPlc, ResynchronisesOnStxAndAnswersInOrderByteByByte)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    // Noise, half a write broken off by the next STX, then a read, ENQ and a force.
    const QByteArray line = fromHexBytes("FF 00 41 03 30 02 31 31 30") + fromHexBytes(kReadD100)
                            + fromHexBytes("05 02 37 30 30 30 35 03 46 46");
    QByteArray replies;
    for (int i = 0; i < line.size(); ++i)
        replies += plc.receive(line.mid(i, 1));
    EXPECT_EQ(replies, fromHexBytes(kReplyD100) + fromHexBytes("06 06"));
    EXPECT_EQ(plc.counters().bytesIgnored, 9u);
}

} // namespace
