// The runtime against a virtual PLC that drops or corrupts 20% of its
// replies, over a real TCP loopback line: every write ends confirmed or
// failed, and once a whole pass has ended well after the last write, the
// module's image agrees with the PLC's memory for every polled variable.

#include "host_runtime.h"
#include "value_format.h"

#include "tcp_line.h"
#include "virtual_plc.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

namespace {

struct PlannedWrite {
    const char* address;
    ValueFormat format;
    const char* value;
};

const PlannedWrite kWrites[] = {
    {"D0", ValueFormat::Int16, "-7"},       {"D1", ValueFormat::Uint16, "60000"},
    {"D2", ValueFormat::Int32, "-123456"},  {"D4", ValueFormat::Float, "2.5"},
    {"D6", ValueFormat::Hex, "0xCAFE"},     {"D8.2", ValueFormat::Bit, "1"},
    {"D8.9", ValueFormat::Bit, "1"},        {"M3", ValueFormat::Bit, "1"},
    {"M12", ValueFormat::Bit, "1"},         {"Y0", ValueFormat::Bit, "1"},
    {"Y6", ValueFormat::Bit, "1"},          {"SM8010", ValueFormat::Bit, "1"},
    {"S2", ValueFormat::Bit, "1"},          {"T1", ValueFormat::Bit, "1"},
    {"C9", ValueFormat::Bit, "1"},          {"SD8002", ValueFormat::Int16, "99"},
    {"TV2", ValueFormat::Int16, "1234"},    {"CV1", ValueFormat::Int16, "-3"},
    {"32CV200", ValueFormat::Int32, "-70000"}, {"32CV202", ValueFormat::Uint32, "4000000000"},
};

// Polled sets cover every written register and their neighbours.
const char* const kPolled[][2] = {
    {"D0", "10"}, {"M0", "16"}, {"Y0", "8"}, {"SM8008", "8"}, {"S0", "8"},
    {"T0", "8"},  {"C8", "8"},  {"SD8000", "4"}, {"TV0", "4"}, {"CV0", "2"}, {"32CV200", "3"}, {"D8.0", "16"},
};

VariableAddress variable(const char* text, int registers)
{
    VariableAddress address;
    QString error;
    EXPECT_TRUE(parseVariableAddress(QLatin1String(text), registers, &address, &error)) << error.toStdString();
    return address;
}

// The registers' values from the module's value bytes: a byte per bit, two
// per word, four per 32-bit counter, least significant first.
QVector<quint32> registerValues(const QByteArray& bytes, const VariableAddress& address)
{
    const int size = bytesPerValue(defaultValueFormat(address.type->element), address.type->element);
    QVector<quint32> result;
    for (int k = 0; k < address.registers; ++k) {
        quint32 value = 0;
        for (int b = 0; b < size && k * size + b < bytes.size(); ++b)
            value |= quint32(quint8(bytes.at(k * size + b))) << (8 * b);
        result.append(value);
    }
    return result;
}

QVector<quint32> plcValues(const VirtualPlc& plc, const VariableAddress& address)
{
    QVector<quint32> result;
    for (int k = 0; k < address.registers; ++k)
        result.append(plc.value(address.regName, address.index + k).value_or(0xDEADBEEF));
    return result;
}

// Waits until `blocks` + 1 transactions in a row have ended well since
// `goodAtStart` good replies: the cycle polls its blocks in a ring, so each
// block has then been read well at least once. A failure restarts the count
// (conservatively, from every good reply counted so far).
bool waitForCleanPass(const HostRuntime& runtime, int blocks, int boundMs)
{
    LineStatistics last = runtime.statistics();
    qint64 base = last.goodReplies;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < boundMs) {
        const LineStatistics now = runtime.statistics();
        if (now.retries + now.giveUps != last.retries + last.giveUps)
            base = now.goodReplies;
        else if (now.goodReplies - base > blocks)
            return true;
        last = now;
        QThread::msleep(1);
    }
    return false;
}

TEST(RuntimeWithFaults, WritesEndConfirmedOrFailedAndTheImageAgreesWithThePlc)
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
    settings.retries = 3;
    settings.baud = 115200;
    settings.answerAllowanceMs = 40; // the sim answers at once; only lost replies wait
    HostRuntime runtime([settings] { return makeLine(settings, nullptr, false); }, settings);
    ASSERT_TRUE(runtime.start(&error)) << error.toStdString();

    QList<VariableAddress> polled;
    for (const auto& entry : kPolled)
        polled.append(variable(entry[0], QByteArray(entry[1]).toInt()));
    const int blocks = runtime.setPolledVariables(polled);
    ASSERT_GT(blocks, 0);

    QVector<RequestId> ids;
    QVector<VariableAddress> written;
    QVector<QByteArray> values;
    for (const PlannedWrite& write : kWrites) {
        const VariableAddress address = variable(write.address, 1);
        const int registers = registersPerValue(write.format, address.type->element);
        const VariableAddress target = variable(write.address, registers);
        QByteArray bytes;
        ASSERT_TRUE(encodeValue(QLatin1String(write.value), write.format, address.type->element, &bytes, &error));
        ids.append(runtime.queueWrite(target, bytes));
        written.append(target);
        values.append(bytes);
    }
    int confirmed = 0;
    for (int i = 0; i < ids.size(); ++i) {
        const RequestOutcome outcome = runtime.wait(ids.at(i), 60000);
        ASSERT_TRUE(outcome.finished) << kWrites[i].address << ": no completion notice";
        if (outcome.good) {
            ++confirmed;
            // Confirmed means acknowledged: the PLC holds the value.
            EXPECT_EQ(plcValues(plc, written.at(i)), registerValues(values.at(i), written.at(i)))
                << kWrites[i].address;
        } else {
            EXPECT_GT(outcome.failureCode, 1) << kWrites[i].address;
        }
    }
    EXPECT_GT(confirmed, 0);
    ASSERT_TRUE(waitForCleanPass(runtime, blocks, 60000));
    const LineStatistics stats = runtime.statistics();
    runtime.stop();
    EXPECT_GT(stats.retries, 0); // the faults did hit

    for (const VariableAddress& address : polled)
        EXPECT_EQ(registerValues(runtime.values(address), address), plcValues(plc, address))
            << address.text.toStdString();
    server.close();
}

} // namespace
