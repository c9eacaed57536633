// The host runtime against a virtual PLC that drops or corrupts 10 % of its
// replies each, over TCP loopback. The module counts failed replies across
// requests, so with 3 retries every fourth failure gives a request up: the
// run sees resends and give-ups, every write still ends confirmed or failed,
// and the image comes to agree with the PLC.

#include "host_runtime.h"

#include "tcp_line.h"
#include "virtual_plc.h"

#include "support/qt_printers.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

namespace {

VariableAddress variable(const QString& text, int registers)
{
    VariableAddress address;
    QString error;
    EXPECT_TRUE(parseVariableAddress(text, registers, &address, &error)) << error.toStdString();
    return address;
}

// D registers of the PLC as the module's value bytes: two per word, low byte first.
QByteArray plcWords(const VirtualPlc& plc, int first, int count)
{
    QByteArray bytes;
    for (int k = first; k < first + count; ++k) {
        const quint32 value = plc.value(QStringLiteral("D"), k).value_or(0xFFFF);
        bytes += char(value & 0xFF);
        bytes += char(value >> 8);
    }
    return bytes;
}

TEST(RuntimeWithFaults, ResendsGivesUpAndEndsWithTheImageAgreeingWithThePlc)
{
    VirtualPlcOptions options;
    options.faults.seed = 11;
    options.faults.rule(FaultKind::Drop).probability = 0.1;
    options.faults.rule(FaultKind::Corrupt).probability = 0.1;
    VirtualPlc plc(options);
    TcpLine server(plc);
    QString error;
    ASSERT_TRUE(server.open(0, &error)) << error.toStdString();
    LineSettings settings;
    ASSERT_TRUE(parsePortOption(QStringLiteral("tcp:127.0.0.1:%1").arg(server.port()), &settings.port, &error));
    settings.baud = 115200;
    settings.answerAllowanceMs = 40; // the sim answers at once; only lost replies wait
    HostRuntime runtime([settings] { return makeLine(settings, nullptr, false); }, settings);
    ASSERT_TRUE(runtime.start(&error)) << error.toStdString();
    const VariableAddress polled = variable(QStringLiteral("D100"), 24);
    ASSERT_GT(runtime.setPolledVariables({polled}), 0);

    QVector<RequestId> ids; // D100 = 0x8000, D101 = 0x8001, ... (low byte first)
    for (int i = 0; i < 24; ++i) {
        const QByteArray value = QByteArray(1, char(i)) + char(0x80);
        ids.append(runtime.queueWrite(variable(QStringLiteral("D%1").arg(100 + i), 1), value));
    }
    for (int i = 0; i < ids.size(); ++i) {
        const RequestOutcome outcome = runtime.wait(ids.at(i), 60000);
        ASSERT_TRUE(outcome.finished) << i;
        if (outcome.good) // acknowledged: the PLC holds the value
            EXPECT_EQ(plc.value(QStringLiteral("D"), 100 + i).value_or(0), 0x8000u + i);
        else
            EXPECT_GT(outcome.failureCode, 1) << i;
    }
    // Once the faults let a whole pass through, the image holds the PLC's values.
    QElapsedTimer clock;
    clock.start();
    while (runtime.values(polled) != plcWords(plc, 100, 24) && clock.elapsed() < 60000)
        QThread::msleep(5);
    EXPECT_EQ(runtime.values(polled), plcWords(plc, 100, 24));
    const LineStatistics stats = runtime.statistics();
    runtime.stop();
    EXPECT_GT(stats.retries, 0);
    EXPECT_GT(stats.giveUps, 0);
}

} // namespace
