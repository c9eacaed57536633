// The tool end to end: `tavrin write` and `tavrin read` against `tavrin sim`
// on a real pseudo-terminal and on TCP loopback, the sim unpaced so the
// whole program stays quick.

#include "tool_process.h"

#include <gtest/gtest.h>

namespace {

QStringList args(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* a : list)
        result << QString::fromUtf8(a);
    return result;
}

// Short timeouts: the sim answers at once, so only lost replies wait.
QStringList lineOptions(const QString& port)
{
    return {QStringLiteral("--port"), port, QStringLiteral("--timeout-ms"), QStringLiteral("50")};
}

struct RoundTripRow {
    const char* name;
    const char* format; // "" for each register's default
    const char* write;  // ADDR=VALUE
    const char* read;   // ADDR
    const char* shown;  // the line `tavrin read` prints
};

// Every writable register type in every value format that suits it.
const RoundTripRow kRoundTrips[] = {
    {"OutputBit", "", "Y5=1", "Y5", "Y5 = 1"},
    {"AuxiliaryRelay", "", "M100=on", "M100", "M100 = 1"},
    {"SpecialRelay", "bit", "M8002=1", "M8002", "SM8002 = 1"},
    {"State", "", "S7=true", "S7", "S7 = 1"},
    {"TimerContact", "", "T3=1", "T3", "T3 = 1"},
    {"CounterContact", "", "C4=1", "C4", "C4 = 1"},
    {"BitOfDataRegister", "", "D30.9=1", "D30.9", "D30.9 = 1"},
    {"DataInt16", "int16", "D100=-2", "D100", "D100 = -2"},
    {"DataUint16", "uint16", "D101=65535", "D101", "D101 = 65535"},
    {"DataInt32", "int32", "D102=-100000", "D102", "D102 = -100000"},
    {"DataUint32", "uint32", "D104=4000000000", "D104", "D104 = 4000000000"},
    {"DataFloat", "float", "D106=-2.25", "D106", "D106 = -2.25"},
    {"DataHex", "hex", "D108=0xBEEF", "D108", "D108 = 0xBEEF"},
    {"SpecialData", "", "D8001=7", "D8001", "SD8001 = 7"},
    {"TimerValue", "uint16", "TV3=900", "TV3", "TV3 = 900"},
    {"CounterValue", "int16", "CV4=-11", "CV4", "CV4 = -11"},
    {"Counter32Int32", "int32", "32CV201=-5", "32CV201", "32CV201 = -5"},
    {"Counter32Uint32", "uint32", "32CV202=3000000000", "32CV202", "32CV202 = 3000000000"},
    {"Counter32Hex", "hex", "32CV203=0x12345678", "32CV203", "32CV203 = 0x12345678"},
    {"Counter32Float", "float", "32CV204=1.5", "32CV204", "32CV204 = 1.5"},
};

QStringList withFormat(QStringList list, const char* format)
{
    if (*format)
        list << QStringLiteral("--format") << QLatin1String(format);
    return list;
}

class ToolOverLine : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        const QString kind = QLatin1String(GetParam());
        sim_ = std::make_unique<SimServer>(kind == QLatin1String("tcp") ? args({"--tcp", "0", "--baud", "0"})
                                                                        : args({"--pty", "--baud", "0"}));
        ASSERT_TRUE(sim_->isListening()) << sim_->output().toStdString();
    }
    QString port() const { return sim_->port(); }

    std::unique_ptr<SimServer> sim_;
};

TEST_P(ToolOverLine, ValuesWrittenAreReadBackInEveryFormat)
{
    for (const RoundTripRow& row : kRoundTrips) {
        SCOPED_TRACE(row.name);
        const ToolRun write = runTool(withFormat(args({"write", row.write}) + lineOptions(port()), row.format));
        ASSERT_EQ(write.exitCode, 0) << write.out.toStdString() << write.err.toStdString();
        EXPECT_TRUE(write.out.contains(QStringLiteral(": written"))) << write.out.toStdString();
        const ToolRun read = runTool(withFormat(args({"read", row.read}) + lineOptions(port()), row.format));
        ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
        EXPECT_EQ(read.out.trimmed(), QLatin1String(row.shown));
    }
}

TEST_P(ToolOverLine, BitWritesOfADataRegisterChangeOnlyTheirBit)
{
    ASSERT_EQ(runTool(args({"write", "D20=0x00F0", "--format", "hex"}) + lineOptions(port())).exitCode, 0);
    const ToolRun bits = runTool(args({"write", "D20.0=1", "D20.7=0", "D20.15=1"}) + lineOptions(port()));
    ASSERT_EQ(bits.exitCode, 0) << bits.out.toStdString();
    EXPECT_EQ(bits.out.count(QStringLiteral(": written")), 3);
    const ToolRun read = runTool(args({"read", "D20", "D19:3", "--format", "hex"}) + lineOptions(port()));
    ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
    // 0x00F0 with bit 0 set, bit 7 cleared and bit 15 set; the neighbours stay 0.
    EXPECT_EQ(read.out, QStringLiteral("D20 = 0x8071\nD19 = 0x0000\nD20 = 0x8071\nD21 = 0x0000\n"));
}

TEST_P(ToolOverLine, ReadsRunsOfRegistersInTheirOwnNotation)
{
    ASSERT_EQ(runTool(args({"write", "Y10=1", "Y11=1"}) + lineOptions(port())).exitCode, 0);
    const ToolRun read = runTool(args({"read", "Y7:3", "D102:2", "--format", "bit"}) + lineOptions(port()));
    EXPECT_EQ(read.exitCode, 2); // bit does not suit D
    EXPECT_TRUE(read.err.contains(QStringLiteral("format bit does not suit this register; accepted are int16"))) << read.err.toStdString();
    const ToolRun bits = runTool(args({"read", "Y7:3"}) + lineOptions(port()));
    EXPECT_EQ(bits.out, QStringLiteral("Y7 = 0\nY10 = 1\nY11 = 1\n")); // octal addresses
}

INSTANTIATE_TEST_SUITE_P(Lines, ToolOverLine, ::testing::Values("pty", "tcp"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(ToolOnTheBuiltInPlc, ReadsAndWatchesTheLastRegistersOfEachArea)
{
    // The module reads bits in one unit more than they need when they end
    // on a byte or a word; past the end of an area the PLC would refuse that.
    const ToolRun read = runTool(args({"read", "T255", "S992:8", "SM8255", "D7999.15", "X370:8"}));
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_EQ(read.out.count(QStringLiteral(" = 0\n")), 19) << read.out.toStdString();
    const ToolRun watch = runTool(args({"watch", "T255", "D7999.0:16", "--seconds", "1"}));
    EXPECT_EQ(watch.exitCode, 0) << watch.err.toStdString();
    EXPECT_TRUE(watch.out.contains(QStringLiteral(" T255 = 0\n"))) << watch.out.toStdString();
    EXPECT_TRUE(watch.out.contains(QStringLiteral(" D7999.15 = 0\n"))) << watch.out.toStdString();
}

TEST(ToolWithFaults, EveryWriteIsReportedWrittenOrFailed)
{
    SimServer sim(args({"--tcp", "0", "--baud", "0", "--drop", "0.1", "--corrupt", "0.1", "--seed", "3"}));
    ASSERT_TRUE(sim.isListening());
    QStringList writes = {QStringLiteral("write")};
    for (int i = 0; i < 20; ++i)
        writes << QStringLiteral("D%1=%2").arg(300 + i).arg(i * 7);
    const ToolRun run = runTool(writes + lineOptions(sim.port()) + args({"--retries", "3"}));
    ASSERT_TRUE(run.finished);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 20) << run.out.toStdString();
    int failed = 0;
    for (int i = 0; i < 20; ++i) {
        const QString head = QStringLiteral("D%1 = %2: ").arg(300 + i).arg(i * 7);
        EXPECT_TRUE(lines.at(i) == head + QLatin1String("written") || lines.at(i).startsWith(head + QLatin1String("failed, ")))
            << lines.at(i).toStdString();
        failed += lines.at(i).contains(QLatin1String("failed")) ? 1 : 0;
    }
    EXPECT_EQ(run.exitCode, failed > 0 ? 1 : 0);
}

TEST(ToolWithSilentPlc, ReadFailsWithTheNoReplyCode)
{
    SimServer sim(args({"--tcp", "0", "--baud", "0", "--drop", "1"}));
    ASSERT_TRUE(sim.isListening());
    const ToolRun run = runTool(args({"read", "D0", "--no-probe", "--retries", "2"}) + lineOptions(sim.port()), 20000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, QStringLiteral("tavrin read: D0: no reply (code 41)\n"));
    const ToolRun probed = runTool(args({"read", "D0"}) + lineOptions(sim.port()), 20000);
    EXPECT_EQ(probed.exitCode, 1);
    EXPECT_TRUE(probed.err.contains(QStringLiteral("no PLC answers on %1: no reply to ENQ").arg(sim.port())))
        << probed.err.toStdString();
}

struct BadInputRow {
    const char* name;
    const char* arguments[5]; // ends at the first null
    int exitCode;
    const char* message; // part of stderr
};

const BadInputRow kBadInputs[] = {
    {"UnopenablePort", {"read", "D0", "--port", "/dev/tavrin-no-such-port"}, 1,
     "cannot open serial port /dev/tavrin-no-such-port: No such file or directory"},
    {"RefusedConnection", {"read", "D0", "--port", "tcp:127.0.0.1:1"}, 1, "cannot connect to tcp:127.0.0.1:1"},
    {"AddressTheModuleRejects", {"read", "X18"}, 2, "\"X18\": Address Format:ooo, range:0~377"},
    {"UnknownRegister", {"write", "Q5=1"}, 2, "\"Q5\": Didn't have this register!"},
    {"UnknownFormat", {"read", "D0", "--format", "double"}, 2,
     "unknown value format \"double\": accepted are bit, int16, uint16, int32, uint32, float, hex"},
    {"UnknownOption", {"read", "D0", "--bogus"}, 2, "Unknown option 'bogus'"},
    {"ValueOutOfRange", {"write", "D0=70000"}, 2, "\"D0=70000\": int16 value \"70000\": expected a whole number from -32768 to 32767"},
    {"InputsAreNotWritable", {"write", "X0=1"}, 2, "the inputs X are driven by the hardware"},
    {"BadTcpPort", {"read", "D0", "--port", "tcp:localhost"}, 2, "expected tcp:HOST:PORT"},
    {"BlockSizeBeyondTheByteLimit", {"read", "D0", "--block-size", "40"}, 2, "--block-size \"40\": expected a whole number from 2 to 17"},
    {"UnknownCommand", {"frobnicate"}, 2, "unknown command \"frobnicate\""},
};

class ToolBadInput : public ::testing::TestWithParam<BadInputRow> {};

TEST_P(ToolBadInput, SaysWhatWasWrongAndExitsNonZero)
{
    const BadInputRow& row = GetParam();
    QStringList arguments;
    for (const char* a : row.arguments) {
        if (!a)
            break;
        arguments << QString::fromUtf8(a);
    }
    const ToolRun run = runTool(arguments, 20000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, row.exitCode);
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(row.message))) << run.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Messages, ToolBadInput, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInputRow>& info) { return std::string(info.param.name); });

TEST(ToolConfiguration, CheckAndCopyUseTheModulesTools)
{
    const ToolRun good = runTool(args({"check", "D_bit", "10.3"}));
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.out, QStringLiteral("D_bit 10.3: valid, register index 163\n"));
    const ToolRun mismatch = runTool(args({"check", "M", "5", "--word", "--lang", "zh"}));
    EXPECT_EQ(mismatch.exitCode, 1);
    EXPECT_EQ(mismatch.out, QString::fromUtf8("M 5: 寄存器和地址类型不匹配!\n"));
    const ToolRun copy = runTool(args({"copy", "X", "374", "3", "1"}));
    EXPECT_EQ(copy.exitCode, 0);
    EXPECT_EQ(copy.out, QStringLiteral("375\t253\n376\t254\n377\t255\n"));
    const ToolRun clamped = runTool(args({"copy", "D_bit", "7999.14", "2", "1"}));
    EXPECT_EQ(clamped.out, QStringLiteral("7999.15\t127999\n7999.15\t128000\n"
                                          "Copy has exceeded the maximum limit of the address, and whether to continue copying?\n"));
}

TEST(ToolHelp, EveryCommandHasHelp)
{
    for (const char* command : {"demo", "read", "watch", "write", "sim", "check", "copy"}) {
        const ToolRun run = runTool({QLatin1String(command), QStringLiteral("--help")});
        EXPECT_EQ(run.exitCode, 0) << command;
        EXPECT_TRUE(run.out.contains(QStringLiteral("Usage:"))) << command;
    }
    EXPECT_TRUE(runTool({QStringLiteral("read"), QStringLiteral("--help")}).out.contains(QStringLiteral("not the PLC's own Ethernet port")));
}

} // namespace
