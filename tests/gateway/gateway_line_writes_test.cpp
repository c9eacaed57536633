// One gateway line in this process, in front of a virtual PLC on loopback
// TCP: a write that takes several requests, on good and faulty lines.

#include "config_reader.h"
#include "gateway_line.h"
#include "module_instance.h"
#include "press_gateway.h"

#include "tool/tool_process.h"

#include "support/qt_printers.h"
#include "support/wait_until.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <atomic>

namespace {

LineConfig lineConfig(const QString& port, const char* tags)
{
    const QByteArray text = QStringLiteral(R"(modbus:
lines:
  - name: oven
    port: %1
    baud: 115200
    timeout_ms: 20
    retries: 10
    block_size: 3
    tags:
%2)")
                                .arg(port, QLatin1String(tags))
                                .toUtf8();
    GatewayConfig config;
    QStringList errors;
    EXPECT_TRUE(parseGatewayConfig(text, QStringLiteral("line.yaml"), &config, &errors)) << errors.join(QLatin1Char('\n')).toStdString();
    return config.lines.value(0);
}

struct WriteRow {
    const char* line;
    int byteLimit;             // the PLC refuses larger blocks
    FaultKind fault;
    int faultEvery;            // 0: no fault
    WriteOutcome outcome;
    QVector<quint32> memory;   // D20 to D25 afterwards, by hand
    int blockWrites;           // acknowledged; -1 where resends after lost or late ACKs add some
};

void PrintTo(const WriteRow& row, std::ostream* os)
{
    *os << row.line;
}

// A tag of five words with a block size of three goes in two block writes,
// D20-D22 then D23-D24; D25 is past the tag. On a line that loses replies
// or answers after the timeout, retries carry the write through and the
// read-back shows PLC memory. When the PLC refuses the first block, the
// write ends there, failed, and the second never reaches the PLC: sent, it
// would leave half a recipe the gateway reported as failed.
const WriteRow kWriteRows[] = {
    {"a good line", 64, FaultKind::Drop, 0, WriteOutcome::Done, {10, 20, 30, 40, 50, 0x5A19}, 2},
    {"every third reply lost", 64, FaultKind::Drop, 3, WriteOutcome::Done, {10, 20, 30, 40, 50, 0x5A19}, -1},
    {"every fourth reply late", 64, FaultKind::Delay, 4, WriteOutcome::Done, {10, 20, 30, 40, 50, 0x5A19}, -1},
    {"first block refused", 4, FaultKind::Drop, 0, WriteOutcome::Failed,
     {0x5A14, 0x5A15, 0x5A16, 0x5A17, 0x5A18, 0x5A19}, 0},
};

class GatewayLineWrites : public ::testing::TestWithParam<WriteRow> {};

INSTANTIATE_TEST_SUITE_P(Lines, GatewayLineWrites, ::testing::ValuesIn(kWriteRows));

TEST_P(GatewayLineWrites, AWriteOfSeveralBlocksGoesInOrderAndEndsAtItsFirstFailure)
{
    const WriteRow& row = GetParam();
    VirtualPlcOptions options;
    options.byteLimit = row.byteLimit;
    options.faults.rule(row.fault).every = row.faultEvery;
    options.faults.delayUs = 60000; // past the timeout, well within the retries' time
    ServedPlc served(ServedOn::Tcp, options);
    for (int k = 20; k < 26; ++k)
        served.plc.setValue(QStringLiteral("D"), k, 0x5A00 + k);

    QString error;
    std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    ASSERT_TRUE(module) << error.toStdString();
    GatewayLine line(lineConfig(served.port(), "      - { name: profile, address: D20, count: 5, writable: true, holding: 0 }\n"),
                     0, module, {});
    line.start();
    ASSERT_TRUE(waitUntil([&] { return line.snapshot().status.online; })) << row.line;
    std::atomic<bool> ended{false};
    TagWriteResult result;
    line.write(QStringLiteral("profile"), QJsonArray{10, 20, 30, 40, 50}, [&](const TagWriteResult& r) {
        result = r;
        ended = true;
    });
    ASSERT_TRUE(waitUntil([&] { return ended.load(); })) << row.line;
    if (row.outcome == WriteOutcome::Done) {
        EXPECT_TRUE(waitUntil([&] { return line.tagState(0).value == QJsonArray{10, 20, 30, 40, 50}; }))
            << row.line;
        EXPECT_EQ(line.tagState(0).quality, Quality::Good) << row.line;
    }
    line.stop();

    EXPECT_EQ(int(result.outcome), int(row.outcome)) << row.line << ": " << result.error.toStdString();
    EXPECT_EQ(result.error.isEmpty(), row.outcome == WriteOutcome::Done) << row.line;
    EXPECT_EQ(plcWords(served.plc, 20, 6), row.memory) << row.line;
    if (row.blockWrites >= 0) {
        EXPECT_EQ(served.plc.counters().writes, quint64(row.blockWrites)) << row.line;
    }
}

} // namespace
