// Lines that fail as plant lines do, on the fake line and on real ones, and
// two lines at once, each with its copy of the module.

#include "fake_line.h"
#include "host_runtime.h"
#include "virtual_plc_line.h"
#include "test_variables.h"
#include "tool/tool_process.h"

#include "support/qt_printers.h"
#include "support/wait_until.h"

#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr qint64 S = 1000000;

// The module alone counts failed replies across requests, so with 3 retries
// every fourth lost reply would give a request up: about 25 give-ups in 2000
// frames at 5 % loss. With a budget per request a give-up needs four losses
// in a row: about one in 160,000 requests.
TEST(LossyLine, APollOfThreeHundredVariablesWithWritesGivesUpNothing)
{
    VirtualPlcOptions options;
    options.faults.seed = 11;
    options.faults.rule(FaultKind::Drop).probability = 0.05;
    LineSettings settings;
    settings.baud = 115200;
    FakeLine line(settings, PlcPace(), true, options);
    QList<VariableAddress> polled;
    for (int k = 0; k < 300; ++k)
        polled.append(variable(k < 200 ? QStringLiteral("D%1").arg(3 * k) : QStringLiteral("M%1").arg(7 * (k - 200))));
    line.core.setPolled(polled, false, line.now);
    int writes = 0;
    for (; line.core.statistics().framesSent < 2000; ++writes) {
        const QByteArray value = QByteArray(1, char(writes)) + char(0x40);
        const RequestId id = line.core.queueWrite(variable(QStringLiteral("D%1").arg(7000 + writes % 50)), value);
        ASSERT_TRUE(line.outcome(id).good) << "write " << writes;
    }
    EXPECT_GT(line.core.statistics().retries, 50);
    EXPECT_LE(line.core.statistics().giveUps, 1);
    for (int i = 0; i < polled.size(); ++i)
        EXPECT_EQ(line.core.quality(i).quality, Quality::Good) << i;
    for (int k = std::max(0, writes - 50); k < writes; ++k) // the last write of each word
        EXPECT_EQ(line.plc.value(QStringLiteral("D"), 7000 + k % 50), 0x4000u + (k & 0xFF)) << k;
}

// Each copy of the module keeps its own lists and image; a copy that is
// driven is not taken by a third runtime.
TEST(TwoLines, EachDrivesItsOwnCopyOfTheModule)
{
    QString error;
    const std::shared_ptr<ModuleInstance> copy = ModuleInstance::loadCopy(&error);
    ASSERT_TRUE(copy) << error.toStdString();
    FakeLine lineA{LineSettings()};
    FakeLine lineB(LineSettings(), PlcPace(), true, VirtualPlcOptions(), copy);
    const VariableAddress d100 = variable(QStringLiteral("D100"));
    int k = 0;
    for (FakeLine* line : {&lineA, &lineB}) {
        line->plc.setValue(QStringLiteral("D"), 100, k ? 0x0B0B : 0x0A0A);
        line->core.setPolled({d100}, false, line->now);
        EXPECT_TRUE(line->outcome(line->core.queueWrite(variable(QStringLiteral("D200")), QByteArray(1, char(++k)) + '\0')).good);
    }
    lineA.runFor(1 * S);
    lineB.runFor(1 * S);
    EXPECT_EQ(lineA.core.values(d100), QByteArray("\x0A\x0A", 2));
    EXPECT_EQ(lineB.core.values(d100), QByteArray("\x0B\x0B", 2));
    EXPECT_EQ(lineA.plc.value(QStringLiteral("D"), 200), 1u);
    EXPECT_EQ(lineB.plc.value(QStringLiteral("D"), 200), 2u);
    LineCore third(LineSettings(), copy, true);
    EXPECT_FALSE(third.attach(&error));
    EXPECT_EQ(error, QStringLiteral("another runtime already drives this copy of the module"));
}

// While the line is lost, D100 is bad and a write fails saying why; once it
// opens again D100 is read afresh and writes go through.
TEST(LostLine, WritesDuringTheOutageFailWithTheReasonAndTheLineComesBack)
{
    FakeLine line{LineSettings()};
    const VariableAddress d100 = variable(QStringLiteral("D100"));
    const VariableAddress d200 = variable(QStringLiteral("D200"));
    line.core.setPolled({d100}, false, line.now);
    line.runFor(1 * S);
    line.core.takeEvents();
    line.reachable = false;
    line.lose(QStringLiteral("line lost: the fake line: connection closed")); // as the runtime words it
    const RequestOutcome during = line.outcome(line.core.queueWrite(d200, QByteArray("\x07\x00", 2)), 10 * S);
    EXPECT_EQ(line.core.health().state, LineState::Lost);
    EXPECT_EQ(line.core.quality(0).quality, Quality::Bad);
    EXPECT_TRUE(during.finished && !during.good);
    EXPECT_EQ(during.error, QStringLiteral("line lost: the fake line: connection closed"));
    line.reachable = true;
    line.plc.setValue(QStringLiteral("D"), 100, 0x0102);
    line.runFor(60 * S, [&] { return line.core.quality(0).quality == Quality::Good; });
    EXPECT_EQ(line.core.health().state, LineState::Up);
    EXPECT_EQ(line.core.values(d100), QByteArray("\x02\x01", 2));
    EXPECT_TRUE(line.outcome(line.core.queueWrite(d200, QByteArray("\x07\x00", 2))).good);
    EXPECT_EQ(line.plc.value(QStringLiteral("D"), 200), 7u);
    QStringList events;
    for (const LineEvent& event : line.core.takeEvents().lineEvents)
        events << event.text.section(QLatin1Char(':'), 0, 0);
    EXPECT_EQ(events, QStringList({QStringLiteral("line lost"), QStringLiteral("line back")}));
}

// A USB adapter plugged in again comes back under its udev link
// (/dev/serial/by-id/...): here a link to a pseudo-terminal, pointed anew.
TEST(LostLine, ASerialPortComesBackUnderItsName)
{
    VirtualPlc plc;
    auto pty = std::make_unique<PtyServer>(plc);
    ASSERT_TRUE(pty->open());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyPLC"));
    ASSERT_TRUE(QFile::link(pty->devicePath(), link));
    LineSettings settings;
    QString error;
    ASSERT_TRUE(parsePortOption(link, &settings.port, &error));
    settings.answerAllowanceMs = 20;
    auto runtime = std::make_unique<HostRuntime>([settings] { return makeLine(settings, nullptr, false); }, settings);
    ASSERT_TRUE(runtime->start(&error)) << error.toStdString();
    runtime->setPolledVariables({variable(QStringLiteral("D100"))});

    pty.reset(); // unplugged
    ASSERT_TRUE(waitUntil([&] { return runtime->health().state == LineState::Lost; }));
    EXPECT_EQ(runtime->quality(0).quality, Quality::Bad);
    pty = std::make_unique<PtyServer>(plc); // plugged in again
    ASSERT_TRUE(pty->open());
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(pty->devicePath(), link));
    plc.setValue(QStringLiteral("D"), 100, 0x0102);
    EXPECT_TRUE(waitUntil([&] { return runtime->quality(0).quality == Quality::Good; }));
    EXPECT_EQ(runtime->values(variable(QStringLiteral("D100"))), QByteArray("\x02\x01", 2));
    runtime->stop();
}

// `tavrin watch --interval`, a poll loop of its own, while the device server
// is stopped and started again on the same port. The watch at line speed
// runs on the host runtime, whose reopening the tests above show.
TEST(LostLineWatch, WatchShowsAValueWrittenAfterTheDeviceServerRestarted)
{
    VirtualPlc plc;
    TcpServer server(plc);
    ASSERT_TRUE(server.open());
    const quint16 port = server.port();
    QProcess watch;
    const QString command = QStringLiteral("watch D100 --interval 500 --seconds 30 --timeout-ms 20 --port tcp:127.0.0.1:%1");
    watch.start(QStringLiteral(TAVRIN_TOOL_PATH), toolWords(command.arg(port)));
    QString seen;
    const auto waitFor = [&](const QString& text) {
        return waitUntil([&] {
            watch.waitForReadyRead(50);
            seen += QString::fromUtf8(watch.readAllStandardOutput());
            return seen.contains(text);
        }, 15000);
    };
    EXPECT_TRUE(waitFor(QStringLiteral(" D100 = 0\n"))) << seen.toStdString();
    server.close();
    EXPECT_TRUE(waitFor(QStringLiteral(" line lost: tcp:127.0.0.1:%1: ").arg(port))) << seen.toStdString();
    QThread::msleep(500);
    ASSERT_TRUE(server.open(port));
    plc.setValue(QStringLiteral("D"), 100, 4321);
    EXPECT_TRUE(waitFor(QStringLiteral(" D100 = 4321\n"))) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral(" line back: tcp:127.0.0.1:%1 reopened after ").arg(port))) << seen.toStdString();
    // The loss is told once, though each pass also prints the variable's state.
    EXPECT_EQ(seen.count(QRegularExpression(QStringLiteral("\\d line lost"))), 1) << seen.toStdString();
    watch.terminate();
    watch.waitForFinished();
}

} // namespace
