// A PLC that falls silent behind a line that stays open (a TCP link, as a
// powered-off PLC behind a serial device server looks, or a serial line):
// the built gateway, a real mosquitto broker and mosquitto_sub. Every tag turns bad together, and
// a write sent meanwhile ends once, with a result that agrees with PLC
// memory, whether the device server drops what it is sent or keeps it and
// delivers it when the PLC wakes.

#include "mqtt_parts.h"

#include <gtest/gtest.h>

namespace {

constexpr int Tags = 300;

QString topic(const QString& rest)
{
    return QStringLiteral("plant1/") + rest;
}

QString quality(const QByteArray& payload)
{
    return jsonObject(payload).value(QStringLiteral("quality")).toString();
}

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
        subscriber.start(broker.port, topic(QStringLiteral("#")));
    }

    // The latest payload of every tag, and how many of them have `wanted` quality.
    int tagsWith(const QString& wanted)
    {
        int n = 0;
        for (int k = 0; k < Tags; ++k)
            n += quality(subscriber.latest(topic(QStringLiteral("press/t%1").arg(k)))) == wanted;
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
    ASSERT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("good")) == Tags; }, 30000)) << gateway.log().toStdString();
    EXPECT_EQ(jsonObject(subscriber.latest(topic(QStringLiteral("press/t150")))).value(QStringLiteral("value")), 1150);

    plc.plc.freeze(GetParam().freeze);
    EXPECT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("bad")) == Tags; }, 10000));
    EXPECT_FALSE(subscriber.waitFor(topic(QStringLiteral("press/status")), [](const QByteArray& payload) {
                               return jsonObject(payload).value(QStringLiteral("status")) == QStringLiteral("offline");
                           }).isEmpty());
    // Offline: a set is refused at once and never reaches the PLC.
    const int from = static_cast<int>(subscriber.messages.size());
    ASSERT_TRUE(publish(broker.port, topic(QStringLiteral("press/t20/set")), "777"));
    const QByteArray refused = subscriber.waitFor(topic(QStringLiteral("press/t20/set/result")),
                                                  [](const QByteArray&) { return true; }, from);
    EXPECT_EQ(jsonObject(refused).value(QStringLiteral("ok")), false) << refused.toStdString();

    plc.plc.freeze(VirtualPlc::Freeze::None);
    EXPECT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("good")) == Tags; }, 30000));
    EXPECT_EQ(plc.plc.value(QStringLiteral("D"), 40), 1020u);
}

// A write sent as the PLC falls silent (on its way, or refused once the line
// is offline: the race is the plant's too): its one result agrees with PLC
// memory once the PLC is back. The core's tests hold the write on its way
// exactly, on a fake clock.
TEST_P(SilentPlc, AWriteCaughtByTheSilenceIsReportedAsItLanded)
{
    ASSERT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("good")) == Tags; }, 30000)) << gateway.log().toStdString();
    const int from = static_cast<int>(subscriber.messages.size());
    plc.plc.freeze(GetParam().freeze);
    ASSERT_TRUE(publish(broker.port, topic(QStringLiteral("press/t20/set")), "777"));
    QThread::msleep(3000); // the PLC stays silent past the line's give-up
    plc.plc.freeze(VirtualPlc::Freeze::None);
    const QByteArray result = subscriber.waitFor(topic(QStringLiteral("press/t20/set/result")),
                                                 [](const QByteArray&) { return true; }, from, 30000);
    ASSERT_FALSE(result.isEmpty());
    ASSERT_TRUE(waitUntil([&] { return tagsWith(QStringLiteral("good")) == Tags; }, 30000));
    QThread::msleep(1000); // nothing lands later
    const bool landed = plc.plc.value(QStringLiteral("D"), 40) == 777u;
    EXPECT_EQ(jsonObject(result).value(QStringLiteral("ok")).toBool(), landed) << result.toStdString();
    int results = 0;
    for (int i = from; i < subscriber.messages.size(); ++i)
        results += subscriber.messages.at(i).first == topic(QStringLiteral("press/t20/set/result"));
    EXPECT_EQ(results, 1);
}

const SilenceCase silenceCases[] = {
    {"PlcPoweredOff", VirtualPlc::Freeze::Swallow, ServedOn::Tcp},
    {"DeviceServerKeepsTheBytes", VirtualPlc::Freeze::Hold, ServedOn::Tcp},
    {"SerialPlcPoweredOff", VirtualPlc::Freeze::Swallow, ServedOn::Pty},
};
INSTANTIATE_TEST_SUITE_P(Lines, SilentPlc, ::testing::ValuesIn(silenceCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
