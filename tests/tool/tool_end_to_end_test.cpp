// The built `tavrin` tool as a child process: against its built-in virtual
// PLC, and against `tavrin sim` (unpaced) over a pseudo-terminal or TCP.

#include "tool_process.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Sim = SimProcess;

class ToolOverLine : public ::testing::TestWithParam<const char*> {};

// What the tool printed, less a note on the PLC's pace: a loaded machine can
// make the virtual PLC answer later than the 50 ms the tests allow, which the
// tool rightly says.
QString withoutPaceNotes(const QString& printed)
{
    QStringList kept;
    for (const QString& line : printed.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String("the PLC answers in about")))
            kept << line;
    }
    return kept.join(QLatin1Char('\n'));
}

TEST_P(ToolOverLine, WritesEveryWritableTypeAndReadsItBackInItsOwnNotation)
{
    Sim sim;
    const QString to = sim.start(QLatin1String(GetParam()));
    const auto tavrin = [](const QString& commandLine) { return withoutPaceNotes(::tavrin(commandLine)); };
    // D20 = 240 (0x00F0), then bits 0 and 15 set and bit 7 cleared: 0x8071, -32655.
    EXPECT_EQ(tavrin(QStringLiteral("write Y7=1 M8002=on S7=true T3=1 C4=1 D20=240 D20.0=1 D20.7=0 D20.15=1 D8001=7 "
                                    "TV3=900 CV4=-11 32CV201=-5") + to).count(QStringLiteral(": written\n")), 13);
    EXPECT_EQ(tavrin(QStringLiteral("read Y6:3 M8002 S7 T3 C4 D19:3 D8001 TV3 CV4 32CV201") + to),
              QStringLiteral("Y6 = 0\nY7 = 1\nY10 = 0\nM8002 = 1\nS7 = 1\nT3 = 1\nC4 = 1\nD19 = 0\n"
                             "D20 = -32655\nD21 = 0\nD8001 = 7\nTV3 = 900\nCV4 = -11\n32CV201 = -5\nexit 0"));
    EXPECT_EQ(tavrin(QStringLiteral("write D106=-2.25 32CV204=1.5 --format float") + to),
              QStringLiteral("D106 = -2.25 (was 0): written\n32CV204 = 1.5 (was 0): written\nexit 0"));
    EXPECT_EQ(tavrin(QStringLiteral("read D106 32CV204 --format float") + to),
              QStringLiteral("D106 = -2.25\n32CV204 = 1.5\nexit 0"));
}

INSTANTIATE_TEST_SUITE_P(Lines, ToolOverLine, ::testing::Values("--pty", "--tcp 0"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return info.index ? "Tcp" : "Pty"; });

// Each command line (SMALL: pointed at a sim that refuses requests of more
// than 2 bytes; FAST: at one that answers at once, whatever the baud rate;
// else the built-in virtual PLC), its exit code, and a part of what it
// prints. What docs/cli.md plays (a silent PLC, a port's reach) is not
// played again here.
const struct {
    const char* commandLine;
    int exitCode;
    const char* text;
} kRuns[] = {
    // Bits are read one unit further when they end on a byte or a word: past
    // the end of an area the PLC would refuse that.
    {"read T255 S992:8 SM8255 D7999.15 X370:8", 0, "S999 = 0\nSM8255 = 0\nD7999.15 = 0\nX370 = 0\n"},
    {"watch T255 D7999.0:16 --seconds 1", 0, " D7999.0 = 0\n"},
    {"watch T255 D7999.0:16 --seconds 1", 0, " D7999.15 = 0\n"},
    // Sums: 37+36+34+30+38+03 = 0x10C and 31+31+30+43+38+30+32+33+34+31+32+03 = 0x23C.
    {"write M100=1 D100=4660 --trace", 0, "-> 02 37 36 34 30 38 03 30 43 <STX>76408<ETX>0C force ON bit 0x0864 (M100)\n"},
    {"write M100=1 D100=4660 --trace", 0,
     "-> 02 31 31 30 43 38 30 32 33 34 31 32 03 33 43 <STX>110C8023412<ETX>3C write 2 bytes at 0x10C8 (D100): 3412\n"},
    {"demo --seconds 2 --baud 115200", 0, "writes          3 confirmed, 0 failed\n"}, // D200, D300, Y7 at 1 s
    // The gap D1..D6 costs 24 characters, a frame of its own 15: two blocks;
    // the module's rule reads the span within its block size; a turnaround
    // of 100 ms makes a frame dearer than any gap.
    {"read D0 D7 --stats", 0, "  frames          2 ("},
    {"read D0 D7 --planner module --block-size 8 --stats", 0, "  frames          1 ("},
    {"read D0 D20 --turnaround-ms 100 --stats", 0, "  frames          1 ("},
    {"read D0 --planner fast", 2, "--planner \"fast\": accepted are cost and module"},
    {"read --help", 0, "Usage: tavrin [options] read ADDR[@FORMAT][:COUNT]..."},
    {"check M 5 --word --lang zh", 1, "M 5: 寄存器和地址类型不匹配!\n"},
    {"read D0 --format bit", 2, "\"D0\": format bit does not suit D0; accepted are int16, uint16,"},
    {"read D0 --bogus", 2, "Unknown option 'bogus'"},
    {"frobnicate", 2, "unknown command \"frobnicate\""},
    // SMALL takes requests of 2 bytes at most: D20:2 is refused, D0 is read.
    {"read D0 D20:2 SMALL", 1, "D0 = 0\ntavrin read: D20: the PLC refused the request (NAK)\n"},
    // A suffix given twice is no variable the tool understands.
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

// 500 relays read once are one planned block of 63 bytes, not 500 requests.
TEST(ToolRuns, FiveHundredRelaysReadOnceTakeOneFrame)
{
    QStringList arguments = {QStringLiteral("read"), QStringLiteral("--stats")};
    for (int k = 0; k < 500; ++k)
        arguments << QStringLiteral("M%1").arg(k);
    const QString run = runTool(arguments);
    EXPECT_TRUE(run.contains(QStringLiteral("M499 = 0\n")));
    EXPECT_TRUE(run.contains(QStringLiteral("  frames          1 ("))) << run.right(400).toStdString();
}

TEST(ToolRuns, ExitCodeAndWhatTheyPrint)
{
    Sim small;
    const QString smallLine = small.start(QStringLiteral("--tcp 0 --byte-limit 2"));
    Sim fast;
    const QString fastLine = fast.start(QStringLiteral("--tcp 0"));
    for (const auto& row : kRuns) {
        const QString run = tavrin(QString::fromUtf8(row.commandLine)
                                       .replace(QLatin1String("SMALL"), smallLine)
                                       .replace(QLatin1String("FAST"), fastLine));
        EXPECT_TRUE(run.endsWith(QStringLiteral("exit %1").arg(row.exitCode))) << row.commandLine;
        EXPECT_TRUE(run.contains(QString::fromUtf8(row.text))) << row.commandLine << "\n" << run.toStdString();
    }
}

} // namespace
