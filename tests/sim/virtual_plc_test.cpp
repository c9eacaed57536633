// The virtual PLC answers the protocol's worked requests as a PLC does:
// data frames with correct sums, ACK, NAK for refused and broken requests,
// silence for bytes that form no frame.

#include "support/qt_printers.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const QByteArray Ack("\x06", 1);
const QByteArray Nak("\x15", 1);

struct WorkedExchange {
    const char* name;
    std::function<void(VirtualPlc&)> before; // device memory the request finds
    const char* request;
    const char* reply;
    std::function<void(const VirtualPlc&)> after; // device memory the request leaves
};

void PrintTo(const WorkedExchange& row, std::ostream* os)
{
    *os << row.name;
}

void nothing(VirtualPlc&) {}
void unchanged(const VirtualPlc&) {}

// Requests and replies as bytes on the line; sums computed by hand (see the comments).
const WorkedExchange kWorked[] = {
    {"ReadD100", [](VirtualPlc& p) { p.setWord(0x10C8, 0x1234); },
     "02 30 31 30 43 38 30 32 03 37 31",
     "02 33 34 31 32 03 43 44", // 33+34+31+32+03 = CD
     unchanged},
    {"ReadX0ToX7", [](VirtualPlc& p) { p.setByte(0x0080, 0xA5); },
     "02 30 30 30 38 30 30 31 03 35 43",
     "02 41 35 03 37 39", // 41+35+03 = 79
     unchanged},
    {"ReadD0D1", [](VirtualPlc& p) { p.setWord(0x1000, 1); p.setWord(0x1002, 0xFFFF); },
     "02 30 31 30 30 30 30 34 03 35 38",
     "02 30 31 30 30 46 46 46 46 03 44 43", // 30+31+30+30+4x46+03 = 1DC
     unchanged},
    {"ForceOnY0", nothing, "02 37 30 30 30 35 03 46 46", "06",
     [](const VirtualPlc& p) { EXPECT_EQ(p.byte(0x00A0), 0x01); }},
    {"ForceOffY0", [](VirtualPlc& p) { p.setByte(0x00A0, 0xFF); },
     "02 38 30 30 30 35 03 30 30", "06",
     [](const VirtualPlc& p) { EXPECT_EQ(p.byte(0x00A0), 0xFE); }},
    {"ForceOnM100", nothing, "02 37 36 34 30 38 03 30 43", "06", // bit 0x0864: byte 0x010C, bit 4
     [](const VirtualPlc& p) { EXPECT_EQ(p.byte(0x010C), 0x10); }},
    {"WriteD100", nothing, "02 31 31 30 43 38 30 32 33 34 31 32 03 33 43", "06",
     [](const VirtualPlc& p) { EXPECT_EQ(p.word(0x10C8), 0x1234); }},
    {"WriteC200", nothing,
     "02 31 30 43 30 30 30 34 37 38 35 36 33 34 31 32 03 30 46", "06",
     [](const VirtualPlc& p) { EXPECT_EQ(p.doubleWord(0x0C00), 0x12345678u); }},
    {"WriteD200D201", nothing,
     "02 31 31 31 39 30 30 34 30 31 30 30 46 46 46 46 03 33 43", "06",
     [](const VirtualPlc& p) {
         EXPECT_EQ(p.word(0x1190), 1);
         EXPECT_EQ(p.word(0x1192), 0xFFFF);
     }},
    {"ReadD10BeforeBitWrite", nothing, "02 30 31 30 31 34 30 32 03 35 42",
     "02 30 30 30 30 03 43 33", unchanged}, // 4x30+03 = C3
    {"WriteD10Bit3", nothing, "02 31 31 30 31 34 30 32 30 38 30 30 03 32 34", "06",
     [](const VirtualPlc& p) { EXPECT_EQ(p.word(0x1014), 0x0008); }},
    {"Enquiry", nothing, "05", "06", unchanged},
};

class WorkedRequest : public ::testing::TestWithParam<WorkedExchange> {};

TEST_P(WorkedRequest, GetsThePlcReplyAndChangesMemory)
{
    const WorkedExchange& row = GetParam();
    VirtualPlc plc;
    row.before(plc);
    EXPECT_EQ(plc.receive(fromHexBytes(row.request)), fromHexBytes(row.reply));
    row.after(plc);
}

INSTANTIATE_TEST_SUITE_P(VirtualPlc, WorkedRequest, ::testing::ValuesIn(kWorked),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedRequest {
    const char* name;
    const char* request;
};

void PrintTo(const RefusedRequest& row, std::ostream* os)
{
    *os << row.name;
}

const RefusedRequest kRefused[] = {
    {"ReadPastD7999", "02 30 34 45 37 46 30 32 03 38 42"},             // 0x4E7F, 2 bytes
    {"ReadCountZero", "02 30 31 30 30 30 30 30 03 35 34"},
    {"ReadCount65", "02 30 31 30 30 30 34 31 03 35 39"},
    {"WriteInputX0", "02 31 30 30 38 30 30 31 30 30 03 42 44"},
    {"ForceInputX0", "02 37 30 30 30 34 03 46 45"},                    // bit 0x0400
    {"CommandOnly", "02 31 03 33 34"},
    {"ReadWithFiveAddressDigits", "02 30 31 30 43 38 03 30 46"},
    {"BadSum", "02 30 31 30 43 38 30 32 03 37 32"},
    {"LowerCaseSum", "02 30 30 30 38 30 30 31 03 35 63"},         // read X0, sum 5C as 5c
};

class Refused : public ::testing::TestWithParam<RefusedRequest> {};

TEST_P(Refused, GetsNakAndLeavesMemoryAlone)
{
    VirtualPlc plc;
    EXPECT_EQ(plc.receive(fromHexBytes(GetParam().request)), Nak);
    EXPECT_EQ(plc.readBytes(0x0000, 0x200), QByteArray(0x200, '\0'));
}

INSTANTIATE_TEST_SUITE_P(VirtualPlc, Refused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualPlc, AnswersRequestsAtTheEdgesOfTheDeviceAreas)
{
    VirtualPlc plc;
    plc.setByte(0x009F, 0x5A);
    plc.setByte(0x00A0, 0xA5);
    EXPECT_EQ(plc.receive(fromHexBytes("02 30 30 30 39 46 30 32 03 37 34")), // X370..Y7
              fromHexBytes("02 35 41 41 35 03 45 46"));                     // 35+41+41+35+03 = EF
    const QByteArray read64 = plc.receive(fromHexBytes("02 30 31 30 30 30 34 30 03 35 38"));
    EXPECT_EQ(read64.size(), 2 * 64 + 4);
}

TEST(VirtualPlc, ByteLimitIsAnOption)
{
    VirtualPlcOptions options;
    options.byteLimit = 2;
    VirtualPlc plc(options);
    EXPECT_EQ(plc.receive(fromHexBytes("02 30 31 30 43 38 30 32 03 37 31")).size(), 8);
    EXPECT_EQ(plc.receive(fromHexBytes("02 30 31 30 30 30 30 34 03 35 38")), Nak);
}

// Read D100 with D100 = 0x1234, as in the worked exchange.
const char* kReadD100 = "02 30 31 30 43 38 30 32 03 37 31";
const char* kReplyD100 = "02 33 34 31 32 03 43 44";

TEST(VirtualPlc, ReassemblesARequestSplitIntoSingleBytes)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    const QByteArray request = fromHexBytes(kReadD100);
    QByteArray replies;
    for (int i = 0; i < request.size(); ++i) {
        const QByteArray reply = plc.receive(request.mid(i, 1));
        EXPECT_EQ(reply.isEmpty(), i < request.size() - 1) << "after byte " << i;
        replies += reply;
    }
    EXPECT_EQ(replies, fromHexBytes(kReplyD100));
}

TEST(VirtualPlc, AnswersBackToBackRequestsInOrder)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    const QByteArray requests = fromHexBytes(kReadD100) + fromHexBytes("05")
                                + fromHexBytes("02 37 30 30 30 35 03 46 46") + fromHexBytes(kReadD100);
    EXPECT_EQ(plc.receive(requests), fromHexBytes(kReplyD100) + Ack + Ack + fromHexBytes(kReplyD100));
}

TEST(VirtualPlc, FindsARequestAfterGarbage)
{
    VirtualPlc plc;
    plc.setWord(0x10C8, 0x1234);
    // Noise, then half a write frame broken off by the next STX.
    const QByteArray garbage = fromHexBytes("FF 00 41 03 30 02 31 31 30");
    EXPECT_EQ(plc.receive(garbage + fromHexBytes(kReadD100)), fromHexBytes(kReplyD100));
    EXPECT_EQ(plc.counters().bytesIgnored, 9u);
}

TEST(VirtualPlc, StaysSilentForBytesThatFormNoFrame)
{
    VirtualPlc plc;
    EXPECT_TRUE(plc.receive(fromHexBytes("30 31 03 41 06 15 FF")).isEmpty());
    EXPECT_EQ(plc.counters().replies, 0u);
}

TEST(VirtualPlc, CountsFramesBytesAndOutcomes)
{
    VirtualPlc plc;
    plc.receive(fromHexBytes(kReadD100));                                    // 11 in, 8 out
    plc.receive(fromHexBytes("02 37 30 30 30 35 03 46 46"));                 // 9 in, 1 out
    plc.receive(fromHexBytes("02 30 31 30 43 38 30 32 03 37 32"));           // bad sum
    plc.receive(fromHexBytes("02 30 30 32 30 30 30 31 03 35 36"));           // refused
    plc.receive(fromHexBytes("05 FF"));                                      // ENQ, 1 ignored
    const VirtualPlcCounters c = plc.counters();
    EXPECT_EQ(c.bytesReceived, 11u + 9 + 11 + 11 + 2);
    EXPECT_EQ(c.bytesSent, 8u + 1 + 1 + 1 + 1);
    EXPECT_EQ(c.framesReceived, 4u);
    EXPECT_EQ(c.enquiries, 1u);
    EXPECT_EQ(c.reads, 1u);
    EXPECT_EQ(c.forces, 1u);
    EXPECT_EQ(c.badSums, 1u);
    EXPECT_EQ(c.refused, 1u);
    EXPECT_EQ(c.replies, 5u);
    EXPECT_EQ(c.bytesIgnored, 1u);
}

TEST(VirtualPlc, InputsAreWritableDirectlyButNotOverTheLine)
{
    VirtualPlc plc;
    EXPECT_TRUE(plc.setValue(QStringLiteral("X"), 8, 1)); // X10: byte 0x0081, bit 0
    EXPECT_EQ(plc.byte(0x0081), 0x01);
    EXPECT_EQ(plc.receive(fromHexBytes("02 31 30 30 38 30 30 31 30 30 03 42 44")), Nak);
    EXPECT_EQ(plc.byte(0x0080), 0x00);
}

struct NamedElement {
    const char* name;
    const char* regName;
    qint64 index;
    quint32 value;
    qint64 byteAddress; // where the value must land, from the device address map
    int width;          // bytes read back: 1 (with bitMask), 2 or 4
    quint32 expected;   // the byte, word or double word at byteAddress
};

void PrintTo(const NamedElement& row, std::ostream* os)
{
    *os << row.name;
}

const NamedElement kNamed[] = {
    {"M100", "M", 100, 1, 0x010C, 1, 0x10},
    {"M1535", "M", 1535, 1, 0x01BF, 1, 0x80},
    {"SM8002", "SM", 2, 1, 0x01E0, 1, 0x04},
    {"S999", "S", 999, 1, 0x007C, 1, 0x80},
    {"Y17Octal", "Y", 15, 1, 0x00A1, 1, 0x80},
    {"T255", "T", 255, 1, 0x00DF, 1, 0x80},
    {"C0", "C", 0, 1, 0x01C0, 1, 0x01},
    {"D7999", "D", 7999, 0xBEEF, 0x4E7E, 2, 0xBEEF},
    {"D10Bit11", "D_bit", 171, 1, 0x1014, 2, 0x0800},
    {"SD8255", "SD", 255, 0x1234, 0x0FFE, 2, 0x1234},
    {"TV255", "TV", 255, 0x0102, 0x09FE, 2, 0x0102},
    {"CV199", "CV", 199, 0x0304, 0x0B8E, 2, 0x0304},
    {"C255", "32CV", 55, 0x89ABCDEF, 0x0CDC, 4, 0x89ABCDEF},
};

class NamedAccess : public ::testing::TestWithParam<NamedElement> {};

TEST_P(NamedAccess, LandsAtTheMappedAddressAndReadsBack)
{
    const NamedElement& row = GetParam();
    VirtualPlc plc;
    ASSERT_TRUE(plc.setValue(QLatin1String(row.regName), row.index, row.value));
    const quint32 stored = row.width == 1   ? plc.byte(row.byteAddress)
                           : row.width == 2 ? plc.word(row.byteAddress)
                                            : plc.doubleWord(row.byteAddress);
    EXPECT_EQ(stored, row.expected);
    EXPECT_EQ(plc.value(QLatin1String(row.regName), row.index), row.value);
}

INSTANTIATE_TEST_SUITE_P(VirtualPlc, NamedAccess, ::testing::ValuesIn(kNamed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VirtualPlc, NamedAccessRefusesWhatThePlcDoesNotHave)
{
    VirtualPlc plc;
    EXPECT_FALSE(plc.setValue(QStringLiteral("M"), 1536, 1)); // would land on C0
    EXPECT_FALSE(plc.setValue(QStringLiteral("D"), 8000, 1));
    EXPECT_FALSE(plc.setValue(QStringLiteral("D"), -1, 1));
    EXPECT_FALSE(plc.setValue(QStringLiteral("d"), 0, 1));
    EXPECT_FALSE(plc.value(QStringLiteral("CV"), 200).has_value());
    EXPECT_EQ(plc.readBytes(0x0000, 0x200), QByteArray(0x200, '\0'));
}

TEST(VirtualPlc, ScanChangesNothingUnlessTheProgramIsEnabled)
{
    VirtualPlc plc;
    plc.runScan();
    plc.runScan();
    EXPECT_EQ(plc.readBytes(0x0000, 0x200), QByteArray(0x200, '\0'));
    EXPECT_EQ(plc.word(0x1000), 0);
    EXPECT_EQ(plc.counters().scans, 0u);
}

TEST(VirtualPlc, ScanProgramCountsWalksAndTimes)
{
    VirtualPlcOptions options;
    options.scanProgram = true;
    VirtualPlc plc(options);
    plc.setWord(0x0800, 48); // TV0 two scans before T0 switches on
    for (int i = 0; i < 10; ++i)
        plc.runScan();
    EXPECT_EQ(plc.counters().scans, 10u);
    EXPECT_EQ(plc.word(0x1000), 10);             // D0
    EXPECT_EQ(plc.byte(0x0080), 0x02);           // scan 10: X1 (scan 1 X0, scan 9 X0)
    EXPECT_EQ(plc.word(0x0800), 58);             // TV0
    EXPECT_EQ(plc.byte(0x00C0), 0x01);           // T0 ON from TV0 = 50
    EXPECT_EQ(plc.doubleWord(0x0C00), 10u);      // C200
    EXPECT_TRUE(plc.bit(0x0F00));                // M8000
    plc.setWord(0x0800, 99);
    plc.setDoubleWord(0x0C00, 0xFFFFFFFF);
    plc.runScan();
    EXPECT_EQ(plc.word(0x0800), 0);              // TV0 wraps from 99
    EXPECT_EQ(plc.byte(0x00C0), 0x00);
    EXPECT_EQ(plc.doubleWord(0x0C00), 0u);
}

} // namespace
