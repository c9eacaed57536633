// The built `tavrin` tool as a child process: against its built-in virtual
// PLC, `tavrin sim`, and a virtual PLC of the test's own.

#include "tool_process.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

namespace {

// The tool over a pseudo-terminal to a PLC that answers 300 ms late, past
// the default allowance: what it writes lands in PLC memory, and what it
// reads is PLC memory, in each register type's own notation.
TEST(ToolOverPty, WritesAndReadsPlcMemoryOfALatePlc)
{
    ServerOptions late;
    late.pacing.responseDelayUs = 300000;
    ServedPlc served(ServedOn::Pty, VirtualPlcOptions(), late);
    const QString port = QStringLiteral(" --port ") + served.port();
    // D20 = 240 (0x00F0), then bits 0 and 15 set and bit 7 cleared: 0x8071.
    const QString written = tavrin(QStringLiteral("write Y7=1 M8002=on S7=true T3=1 C4=1 D20=240 D20.0=1 D20.7=0 "
                                                  "D20.15=1 D8001=7 TV3=900 CV4=-11 32CV201=-5 32CV204@float=1.5") + port);
    EXPECT_EQ(written.count(QStringLiteral(": written\n")), 14) << written.toStdString();
    const std::tuple<const char*, int, quint32> memory[] = {
        {"Y", 7, 1},       {"SM", 2, 1},  {"S", 7, 1},     {"T", 3, 1},       {"C", 4, 1},
        {"D", 20, 0x8071}, {"SD", 1, 7},  {"TV", 3, 900},  {"CV", 4, 0xFFF5}, {"32CV", 1, 0xFFFFFFFB},
        {"32CV", 4, 0x3FC00000}, // 1.5
    };
    for (const auto& [name, index, value] : memory)
        EXPECT_EQ(served.plc.value(QLatin1String(name), index), value) << name << index;
    served.plc.setValue(QStringLiteral("D"), 19, 0x1234);
    served.plc.setValue(QStringLiteral("D"), 107, 0xC010); // D106@float = -2.25 (0xC0100000)
    const QString read = tavrin(QStringLiteral("read Y6:3 D19:2 CV4 32CV201 D106@float") + port);
    EXPECT_TRUE(read.contains(QStringLiteral("Y6 = 0\nY7 = 1\nY10 = 0\nD19 = 4660\nD20 = -32655\nCV4 = -11\n"
                                             "32CV201 = -5\nD106 = -2.25\n")))
        << read.toStdString();
    EXPECT_TRUE(read.endsWith(QStringLiteral("exit 0"))) << read.toStdString();
}

// Each command line (FAST: pointed at a sim that answers at once, whatever
// the baud rate; else the built-in virtual PLC), its exit code, and a part of
// what it prints. What docs/cli.md plays is not played again here.
const struct {
    const char* commandLine;
    int exitCode;
    const char* text;
} kRuns[] = {
    // The gap D1..D6 costs 24 characters, a frame of its own 15: the cost
    // planner reads two blocks, the module's rule one within its block size.
    {"read D0 D7 --planner module --block-size 8 --stats", 0, "  frames          1 ("},
    {"read D0 --planner fast", 2, "--planner \"fast\": accepted are cost and module"},
    {"read --help", 0, "Usage: tavrin [options] read ADDR[@FORMAT][:COUNT]..."},
    {"check M 5 --word --lang zh", 1, "M 5: 寄存器和地址类型不匹配!\n"},
    {"read D0 --format bit", 2, "\"D0\": format bit does not suit D0; accepted are int16, uint16,"},
    {"read D0 --bogus", 2, "Unknown option 'bogus'"},
    {"frobnicate", 2, "unknown command \"frobnicate\""},
    {"write D0@int16@hex=1", 2, "\"D0@int16@hex\": a second format \"@hex\" after \"D0@int16\""},
    // Output that cannot be written fails the run, on either stream, in every command.
    {"read D0 --stats 2>/dev/full", 1, "D0 = 0\n"},
    {"watch D0 --count 1 >/dev/full", 1, "tavrin watch: cannot write the output"},
    {"write D0=1 >/dev/full", 1, "tavrin write: cannot write the output"},
    {"demo --seconds 1 >/dev/full", 1, "tavrin demo: cannot write the output"},
    {"check D 0 >/dev/full", 1, "tavrin check: cannot write the output"},
    {"copy X 0 2 1 >/dev/full", 1, "tavrin copy: cannot write the output"},
    {"ports >/dev/full", 1, "tavrin ports: cannot write the output"},
    {"sim --tcp 0 >/dev/full", 1, "tavrin sim: cannot write the output"},
    {"gateway --help >/dev/full", 1, "tavrin gateway: cannot write the output"},
    // The line's busy share is of its time: against a link faster than the
    // configured rate it says so rather than give more than 100 %.
    {"read D0:64 --baud 300 --stats FAST", 0, "  line busy       100 % of the time at 300 baud: its characters take "},
    {"demo --seconds 1", 0, " % of the time at 9600 baud (its characters at that rate over the elapsed time)\n"},
};

// A serial port is locked by its device: a second tool that reaches it by
// another name (a link, as /dev/serial/by-id/... are) is refused and told
// who holds it.
TEST(ToolPorts, ASerialPortInUseIsRefusedWhateverNameReachesIt)
{
    ServedPlc served(ServedOn::Pty, VirtualPlcOptions());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("plc"));
    ASSERT_TRUE(QFile::link(served.port(), link));
    QProcess holder;
    holder.start(QStringLiteral(TAVRIN_TOOL_PATH),
                 toolWords(QStringLiteral("watch D0 --seconds 20 --port ") + served.port()));
    ASSERT_TRUE(holder.waitForReadyRead(10000)); // it has the port: D0 is shown
    const QString run = tavrin(QStringLiteral("read D0 --port ") + link);
    EXPECT_TRUE(run.contains(QStringLiteral("serial port %1 (%2) is in use by tavrin (process ").arg(link, served.port())))
        << run.toStdString();
    EXPECT_TRUE(run.endsWith(QStringLiteral("exit 1")));
    holder.kill();
    holder.waitForFinished();
}

// A reader that goes away: the tool notices its output failing, stops and
// says so, with exit 1.
TEST(ToolPorts, AClosedPipeEndsTheWatchWithExitOne)
{
    QProcess shell;
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("'%1' watch D0 --interval 20 --seconds 30 | head -1; "
                                                      "echo \"exit ${PIPESTATUS[0]}\"")
                                           .arg(QStringLiteral(TAVRIN_TOOL_PATH))});
    ASSERT_TRUE(shell.waitForFinished(60000));
    const QString printed = QString::fromUtf8(shell.readAllStandardOutput());
    EXPECT_TRUE(printed.endsWith(QStringLiteral("exit 1\n"))) << printed.toStdString();
    EXPECT_TRUE(shell.readAllStandardError().contains("tavrin watch: cannot write the output"));
}

TEST(ToolRuns, ExitCodeAndWhatTheyPrint)
{
    SimProcess fast;
    const QString fastLine = fast.start(QStringLiteral("--tcp 0"));
    for (const auto& row : kRuns) {
        const QString run = tavrin(QString::fromUtf8(row.commandLine).replace(QLatin1String("FAST"), fastLine));
        EXPECT_TRUE(run.endsWith(QStringLiteral("exit %1").arg(row.exitCode))) << row.commandLine;
        EXPECT_TRUE(run.contains(QString::fromUtf8(row.text))) << row.commandLine << "\n" << run.toStdString();
    }
}

} // namespace
