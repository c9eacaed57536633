// The virtual PLC answers worked requests byte for byte as a programming
// port does: NAK for refused or broken requests, the port's own aliases and
// gaps, silence for noise, resynchronisation on STX. Its data frames and
// ACKs are the module's to judge (module_agreement_test.cpp).

#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>
#include <tuple>

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

// Every row starts from D100 = 0x1234, X0..X7 = 0xA5, Y0..Y7 = 0xFF,
// M1528..M1535 = 0x7E, C0..C7 = 0x81, CV199 = 0xBEEF, C255 = 0x12345678.
// The port's ranges: S 0x0000-0x007C, X 0x0080-0x009F, Y 0x00A0-0x00BF,
// T 0x00C0-0x00DF, M0-M1535 0x0100-0x01BF, C 0x01C0-0x01DF, M8000 0x01E0-0x01FF,
// TV 0x0800-0x09FF, CV 0x0A00-0x0B8F, 32CV 0x0C00-0x0CDF, D8000 0x0E00-0x0FFF,
// D 0x1000-0x4E7F; a force's bit address b is bit b % 8 of byte b / 8.
const Exchange kExchanges[] = {
    {"NakBadSum", "02 30 31 30 43 38 30 32 03 37 32", "15", 0x10C8, "3412"},
    {"NakReadPastD7999", "02 30 34 45 37 46 30 32 03 38 42", "15", 0x4E7E, "0000"},
    {"NakCount65", "02 30 31 30 30 30 34 31 03 35 39", "15", 0x1000, "0000"},
    {"NakWriteInputX0", "02 31 30 30 38 30 30 31 30 30 03 42 44", "15", 0x0080, "A5"},
    {"NakForceOffInputX0", "02 38 30 30 30 34 03 46 46", "15", 0x0080, "A5"}, // bit 0x0400, sum FF
    // M1536 up lands on the C contacts, as on a real port; M2048 up (0x0200) is refused.
    {"ReadM1528ToC7", "02 30 30 31 42 46 30 32 03 37 45", "02 37 45 38 31 03 45 38", 0x01BF, "7E81"},
    {"NakReadM2048", "02 30 30 32 30 30 30 31 03 35 36", "15", 0x0200, ""},
    {"NakReadGapAfterS", "02 30 30 30 37 44 30 31 03 36 46", "15", 0x007D, ""},
    {"NakReadPastCV199", "02 30 30 42 38 46 30 32 03 38 35", "15", 0x0B8F, "BE"},
    {"NakReadPastC255", "02 30 30 43 44 44 30 34 03 39 32", "15", 0x0CDD, "563412"},
    {"NakForceBeyondM8255", "02 37 30 30 31 30 03 46 42", "15", 0x0200, ""}, // bit 0x1000
    {"NakForceGapAfterS", "02 37 45 38 30 33 03 31 41", "15", 0x007D, ""},   // bit 0x03E8
};

TEST(VirtualPlc, RepliesToWorkedRequestsAndChangesOnlyWhatItShould)
{
    for (const Exchange& row : kExchanges) {
        VirtualPlc plc;
        plc.setWord(0x10C8, 0x1234);
        plc.setByte(0x0080, 0xA5);
        plc.setByte(0x00A0, 0xFF);
        plc.setByte(0x01BF, 0x7E);
        plc.setByte(0x01C0, 0x81);
        plc.setWord(0x0B8E, 0xBEEF);
        plc.setDoubleWord(0x0CDC, 0x12345678);
        EXPECT_EQ(plc.receive(fromHexBytes(row.request)), fromHexBytes(row.reply)) << row.name;
        const QByteArray after = QByteArray::fromHex(row.after);
        EXPECT_EQ(plc.readBytes(row.address, static_cast<int>(after.size())), after) << row.name;
    }
}

// By register name, through the PLC's own map: X10 (octal) is index 8, M8000
// is SM 0, C200 is 32CV 0, D10.3 is D_bit 163; M1536 is beyond the port.
TEST(VirtualPlc, ValuesByRegisterNameLieWhereThePortHasThem)
{
    const std::tuple<const char*, qint64, quint32, qint64, const char*> rows[] = {
        {"X", 8, 1, 0x0081, "01"},          {"SM", 2, 1, 0x01E0, "04"},
        {"TV", 1, 0x1234, 0x0802, "3412"},  {"CV", 199, 0xBEEF, 0x0B8E, "EFBE"},
        {"32CV", 55, 0x12345678, 0x0CDC, "78563412"}, {"SD", 0, 10, 0x0E00, "0A00"},
        {"D_bit", 163, 1, 0x1014, "0800"},
    };
    for (const auto& [name, index, value, address, bytes] : rows) {
        VirtualPlc plc;
        EXPECT_TRUE(plc.setValue(QLatin1String(name), index, value)) << name;
        EXPECT_EQ(plc.readBytes(address, int(qstrlen(bytes) / 2)), QByteArray::fromHex(bytes)) << name;
    }
    VirtualPlc plc;
    plc.setValue(QStringLiteral("D_bit"), 163, 1);
    EXPECT_EQ(plc.value(QStringLiteral("D"), 10), 8u);
    EXPECT_FALSE(plc.setValue(QStringLiteral("M"), 1536, 1));
    EXPECT_FALSE(plc.value(QStringLiteral("Q"), 0).has_value());
}

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
