// A PLC that falls silent behind a line that stays open (a TCP link, as a
// powered-off PLC behind a serial device server looks, or a serial line), with
// a real mosquitto broker and mosquitto_sub. A write caught by the silence is
// held exactly by the core's tests, on a fake clock (line_core_test.cpp).

#include "mqtt_parts.h"

#include <gtest/gtest.h>

namespace {

constexpr int Tags = 300;

struct SilenceCase {
    const char* name;
    VirtualPlc::Freeze freeze;
    ServedOn on;
};

class SilentPlc : public ::testing::TestWithParam<SilenceCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(broker.start());
        QString text = QStringLiteral("mqtt: {url: \"mqtt://127.0.0.1:%1\", prefix: plant1}\nlines:\n  - name: press\n"
                                      "    port: %2\n    baud: 115200\n    tags:\n").arg(broker.port).arg(plc.port());
        for (int k = 0; k < Tags; ++k) {
            text += QStringLiteral("      - { name: t%1, address: D%2, writable: true }\n").arg(k).arg(2 * k);
            plc.plc.setValue(QStringLiteral("D"), 2 * k, 1000 + k);
        }
        gateway.start(writeConfig(dir, text));
        subscriber.start(broker.port, QStringLiteral("plant1/#"));
    }

    // How many tags have `wanted` quality in their latest payload.
    int tagsWith(const QString& wanted)
    {
        int n = 0;
        for (int k = 0; k < Tags; ++k)
            n += jsonObject(subscriber.latest(QStringLiteral("plant1/press/t%1").arg(k))).value(QStringLiteral("quality")) == wanted;
        return n;
    }

    QTemporaryDir dir;
    Broker broker;
    ServedPlc plc{GetParam().on, VirtualPlcOptions()};
    GatewayProcess gateway;
    Subscriber subscriber;
};

TEST_P(SilentPlc, EveryTagTurnsBadTogetherAndAWriteMeanwhileEndsAsPlcMemorySays)
{
    ASSERT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("good")) == Tags; }, 30000)) << gateway.log();
    EXPECT_EQ(jsonObject(subscriber.latest(QStringLiteral("plant1/press/t150"))).value(QStringLiteral("value")), 1150);

    plc.plc.freeze(GetParam().freeze);
    EXPECT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("bad")) == Tags; }, 10000));
    EXPECT_FALSE(subscriber.waitFor(QStringLiteral("plant1/press/status"), [](const QByteArray& payload) {
                               return jsonObject(payload).value(QStringLiteral("status")) == QStringLiteral("offline");
                           }).isEmpty());
    // Offline: a set is refused at once and never reaches the PLC.
    const int from = static_cast<int>(subscriber.messages.size());
    ASSERT_TRUE(publish(broker.port, QStringLiteral("plant1/press/t20/set"), "777"));
    const QByteArray refused = subscriber.waitFor(QStringLiteral("plant1/press/t20/set/result"), anything, from);
    EXPECT_EQ(jsonObject(refused).value(QStringLiteral("ok")), false) << refused.toStdString();

    plc.plc.freeze(VirtualPlc::Freeze::None);
    EXPECT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("good")) == Tags; }, 30000));
    EXPECT_EQ(plc.plc.value(QStringLiteral("D"), 40), 1020u);
}

const SilenceCase silenceCases[] = {
    {"PlcPoweredOff", VirtualPlc::Freeze::Swallow, ServedOn::Tcp},
    {"DeviceServerKeepsTheBytes", VirtualPlc::Freeze::Hold, ServedOn::Tcp},
    {"SerialPlcPoweredOff", VirtualPlc::Freeze::Swallow, ServedOn::Pty},
};
INSTANTIATE_TEST_SUITE_P(Lines, SilentPlc, ::testing::ValuesIn(silenceCases), [](const auto& info) { return std::string(info.param.name); });

} // namespace
