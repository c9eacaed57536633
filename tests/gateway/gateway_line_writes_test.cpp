// One gateway line in this process, in front of a virtual PLC on loopback
// TCP: how a write that takes several requests ends when one of them fails.

#include "config_reader.h"
#include "gateway_line.h"
#include "module_instance.h"

#include "host/tool_process.h"

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

QVector<quint32> words(const VirtualPlc& plc, int first, int count)
{
    QVector<quint32> values;
    for (int k = first; k < first + count; ++k)
        values.append(plc.value(QStringLiteral("D"), k).value_or(0xFFFFFFFF));
    return values;
}

// A tag of five words with a block size of three goes in two block writes.
// The PLC refuses any block over two words, so the first is refused: the
// write ends there, failed, and the second part never reaches the PLC. Were
// it sent, the PLC would hold half a recipe the gateway reported as failed.
TEST(GatewayLineWrites, AWriteOfSeveralBlocksEndsAtItsFirstFailedBlock)
{
    VirtualPlcOptions options;
    options.byteLimit = 4;
    ServedPlc served(ServedOn::Tcp, options);
    for (int k = 20; k < 26; ++k)
        served.plc.setValue(QStringLiteral("D"), k, 0x5A00 + k);
    const QVector<quint32> before = words(served.plc, 20, 6);

    QString error;
    std::shared_ptr<ModuleInstance> module = ModuleInstance::shared(&error);
    ASSERT_TRUE(module) << error.toStdString();
    GatewayLine line(lineConfig(served.port(), "      - { name: profile, address: D20, count: 5, writable: true, holding: 0 }\n"),
                     0, module, {});
    line.start();
    ASSERT_TRUE(waitUntil([&] { return line.snapshot().status.online; }));
    std::atomic<bool> ended{false};
    TagWriteResult result;
    line.write(QStringLiteral("profile"), QJsonArray{10, 20, 30, 40, 50}, [&](const TagWriteResult& r) {
        result = r;
        ended = true;
    });
    ASSERT_TRUE(waitUntil([&] { return ended.load(); }));
    line.stop();

    EXPECT_EQ(result.outcome, WriteOutcome::Failed) << result.error.toStdString();
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_EQ(words(served.plc, 20, 6), before);
    EXPECT_EQ(served.plc.counters().writes, 0u);
}

} // namespace
