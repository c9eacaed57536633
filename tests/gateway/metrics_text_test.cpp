// The metrics text for a model set by hand, against the text written out by
// hand: names, types, labels and numbers as Prometheus reads them, each
// family after its help.

#include "config_reader.h"
#include "metrics_text.h"

#include "support/qt_printers.h"

#include <gtest/gtest.h>

namespace {

const char* const kFile = R"(
modbus:
lines:
  - name: press1
    port: /dev/ttyS0
    tags:
      - { name: speed, address: D100, holding: 0 }
      - { name: lamp,  address: Y7 }
  - name: oven
    port: /dev/ttyS1
    tags:
      - { name: temperature, address: D0 }
)";

TEST(MetricsText, EveryFamilyWithItsTypeHelpAndSamples)
{
    GatewayConfig config;
    QStringList errors;
    ASSERT_TRUE(parseGatewayConfig(QByteArray(kFile), QStringLiteral("plant.yaml"), &config, &errors));
    QVector<LineSnapshot> lines(2);
    lines[0].status.online = true;
    lines[0].statistics.framesSent = 1200;
    lines[0].statistics.bytesSent = 13200;
    lines[0].statistics.bytesReceived = 9000;
    lines[0].statistics.goodReplies = 1198;
    lines[0].statistics.retries = 2;
    lines[0].statistics.giveUps = 0;
    lines[0].statistics.elapsedMs = 10000;
    lines[0].statistics.wireTimeUs = 2500000; // 2.5 s of 10 s
    // Poll classes: every: 200ms, stretched to 360 ms; the one without every: yet to end two passes.
    PollClassFigures fast;
    fast.periodUs = 200000;
    fast.stretchedPeriodUs = 360000;
    fast.achievedPeriodUs = 361500;
    lines[0].pollClasses = {fast, PollClassFigures()};
    lines[0].tags = {TagState{Quality::Good, TypedValue{ValueFormat::Int16, ElementKind::Word, 1, QByteArray("\x2a\x00", 2)}, QString(), QDateTime()},
                     TagState{Quality::Bad, TypedValue(), QStringLiteral("refused"), QDateTime()}};
    lines[1].status.online = false;
    lines[1].statistics.lineLosses = 3;
    lines[1].statistics.reconnects = 2;
    lines[1].statistics.elapsedMs = 1000;
    lines[1].statistics.wireTimeUs = 29649000; // a link faster than the baud: 29.6 s of characters in 1 s
    lines[1].turnaroundUs = 12500;
    lines[1].tags = {TagState()};
    GatewayCounters counters;
    counters.published = 17;
    counters.sparkplugDropped = 4;
    counters.writes = {5, 1, 0, 2};

    // Each family after its help (the table's texts), then its type and samples.
    const char* expected = R"(# TYPE tavrin_line_online gauge
tavrin_line_online{line="press1"} 1
tavrin_line_online{line="oven"} 0
# TYPE tavrin_line_frames_sent_total counter
tavrin_line_frames_sent_total{line="press1"} 1200
tavrin_line_frames_sent_total{line="oven"} 0
# TYPE tavrin_line_sent_bytes_total counter
tavrin_line_sent_bytes_total{line="press1"} 13200
tavrin_line_sent_bytes_total{line="oven"} 0
# TYPE tavrin_line_received_bytes_total counter
tavrin_line_received_bytes_total{line="press1"} 9000
tavrin_line_received_bytes_total{line="oven"} 0
# TYPE tavrin_line_good_replies_total counter
tavrin_line_good_replies_total{line="press1"} 1198
tavrin_line_good_replies_total{line="oven"} 0
# TYPE tavrin_line_retries_total counter
tavrin_line_retries_total{line="press1"} 2
tavrin_line_retries_total{line="oven"} 0
# TYPE tavrin_line_give_ups_total counter
tavrin_line_give_ups_total{line="press1"} 0
tavrin_line_give_ups_total{line="oven"} 0
# TYPE tavrin_line_late_replies_total counter
tavrin_line_late_replies_total{line="press1"} 0
tavrin_line_late_replies_total{line="oven"} 0
# TYPE tavrin_line_losses_total counter
tavrin_line_losses_total{line="press1"} 0
tavrin_line_losses_total{line="oven"} 3
# TYPE tavrin_line_reconnects_total counter
tavrin_line_reconnects_total{line="press1"} 0
tavrin_line_reconnects_total{line="oven"} 2
# TYPE tavrin_line_utilisation_ratio gauge
tavrin_line_utilisation_ratio{line="press1"} 0.25
tavrin_line_utilisation_ratio{line="oven"} 1
# TYPE tavrin_line_turnaround_seconds gauge
tavrin_line_turnaround_seconds{line="oven"} 0.0125
# TYPE tavrin_line_poll_period_seconds gauge
tavrin_line_poll_period_seconds{line="press1",every="200ms"} 0.3615
# TYPE tavrin_line_poll_scheduled_period_seconds gauge
tavrin_line_poll_scheduled_period_seconds{line="press1",every="200ms"} 0.36
# TYPE tavrin_tag_good gauge
tavrin_tag_good{line="press1",tag="speed"} 1
tavrin_tag_good{line="press1",tag="lamp"} 0
tavrin_tag_good{line="oven",tag="temperature"} 0
# TYPE tavrin_gateway_tags gauge
tavrin_gateway_tags{quality="good"} 1
tavrin_gateway_tags{quality="bad"} 1
tavrin_gateway_tags{quality="waiting"} 1
# TYPE tavrin_gateway_mqtt_publishes_total counter
tavrin_gateway_mqtt_publishes_total 17
# TYPE tavrin_gateway_sparkplug_dropped_total counter
tavrin_gateway_sparkplug_dropped_total 4
# TYPE tavrin_gateway_writes_total counter
tavrin_gateway_writes_total{result="done"} 5
tavrin_gateway_writes_total{result="refused"} 1
tavrin_gateway_writes_total{result="unavailable"} 0
tavrin_gateway_writes_total{result="failed"} 2
)";
    QStringList text = QString::fromUtf8(metricsText(config, lines, counters)).split(QLatin1Char('\n'));
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (!text.at(i).startsWith(QLatin1String("# HELP ")))
            continue;
        EXPECT_EQ(text.at(i).section(QLatin1Char(' '), 2, 2), text.at(i + 1).section(QLatin1Char(' '), 2, 2));
        EXPECT_FALSE(text.takeAt(i).section(QLatin1Char(' '), 3).isEmpty());
    }
    EXPECT_EQ(text.join(QLatin1Char('\n')), QString::fromUtf8(expected));
}

// No family without a sample: while no line measures its turnaround or
// ends its poll passes, their families are left out.
TEST(MetricsText, AFamilyNoLineMeasuresIsLeftOut)
{
    GatewayConfig config;
    QStringList errors;
    ASSERT_TRUE(parseGatewayConfig(QByteArray(kFile), QStringLiteral("plant.yaml"), &config, &errors));
    const QByteArray text = metricsText(config, QVector<LineSnapshot>(2), GatewayCounters());
    EXPECT_FALSE(text.contains("turnaround") || text.contains("poll")) << text.toStdString();
}

TEST(MetricsText, LabelValuesEscapeBackslashQuoteAndLineFeed)
{
    EXPECT_EQ(metricLabelValue(QStringLiteral("a\\b\"c\nd")), QStringLiteral("a\\\\b\\\"c\\nd"));
}

} // namespace
