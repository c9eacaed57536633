// A tag's every: in the configuration file (its mistakes are in
// config_reader_test's table), and the poll classes' periods in the metrics text.

#include "config_reader.h"
#include "metrics_text.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

#define EVERY(value) "mqtt: {prefix: p}\nlines:\n  - {name: a, port: /dev/ttyS0, tags: [{name: t, address: D0, every: " value "}]}\n"

TEST(PollEvery, IsReadInMillisecondsFromMsOrS)
{
    for (const auto& [text, ms] : {std::pair{EVERY("200ms"), 200}, {EVERY("10s"), 10000}, {EVERY("1.5s"), 1500}}) {
        GatewayConfig config;
        QStringList errors;
        ASSERT_TRUE(parseGatewayConfig(QByteArray(text), QStringLiteral("plant.yaml"), &config, &errors)) << errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(config.lines.at(0).tags.at(0).everyMs, ms) << text;
    }
}

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
