// A tag's every: in the configuration file, and the poll classes' periods in
// the metrics text.

#include "config_reader.h"
#include "metrics_text.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

#define EVERY(value) "mqtt: {prefix: p}\nlines:\n  - {name: a, port: /dev/ttyS0, tags: [{name: t, address: D0, every: " value "}]}\n"

struct EveryCase {
    const char* name;
    const char* text;
    int everyMs;        // when read
    const char* error;  // else the message
};

const EveryCase everyCases[] = {
    {"Milliseconds", EVERY("200ms"), 200, nullptr},
    {"Seconds", EVERY("10s"), 10000, nullptr},
    {"FractionOfASecond", EVERY("1.5s"), 1500, nullptr},
    {"NoUnit", EVERY("200"), 0,
     "plant.yaml:3:70: every \"200\": expected a period such as 200ms or 10s: a whole number of milliseconds from "
     "10ms to 3600s, with ms or s; leave every: out to poll the tag as fast as the line allows"},
    {"TooShort", EVERY("5ms"), 0,
     "plant.yaml:3:70: every \"5ms\": expected a period such as 200ms or 10s: a whole number of milliseconds from "
     "10ms to 3600s, with ms or s; leave every: out to poll the tag as fast as the line allows"},
};

class PollEvery : public ::testing::TestWithParam<EveryCase> {};

TEST_P(PollEvery, IsReadOrNamedWithItsLine)
{
    GatewayConfig config;
    QStringList errors;
    const bool read = parseGatewayConfig(QByteArray(GetParam().text), QStringLiteral("plant.yaml"), &config, &errors);
    if (!GetParam().error) {
        ASSERT_TRUE(read) << errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(config.lines.at(0).tags.at(0).everyMs, GetParam().everyMs);
    } else {
        EXPECT_EQ(errors, QStringList{QLatin1String(GetParam().error)});
    }
}

INSTANTIATE_TEST_SUITE_P(Config, PollEvery, ::testing::ValuesIn(everyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PollClassMetrics, EachClassAchievedAndScheduledPeriod)
{
    GatewayConfig config;
    QStringList errors;
    ASSERT_TRUE(parseGatewayConfig(QByteArray(EVERY("200ms")), QStringLiteral("plant.yaml"), &config, &errors));
    QVector<LineSnapshot> lines(1);
    PollClassFigures fast;
    fast.periodUs = 200000;
    fast.stretchedPeriodUs = 360000;
    fast.achievedPeriodUs = 361500;
    PollClassFigures rest; // no every:, two passes not yet ended
    lines[0].pollClasses = {fast, rest};
    const QString text = QString::fromUtf8(metricsText(config, lines, GatewayCounters()));
    EXPECT_TRUE(text.contains(QLatin1String("# TYPE tavrin_line_poll_period_seconds gauge\n"
                                            "tavrin_line_poll_period_seconds{line=\"a\",every=\"200ms\"} 0.3615\n"
                                            "# HELP tavrin_line_poll_scheduled_period_seconds")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("tavrin_line_poll_scheduled_period_seconds{line=\"a\",every=\"200ms\"} 0.36\n")));
    EXPECT_FALSE(text.contains(QLatin1String("fastest")));
}

} // namespace
