#include "metrics_text.h"

#include "model_json.h"
#include "poll_period.h"

#include <QLocale>

#include <algorithm>

namespace {

// One row per line metric.
struct LineMetric {
    const char* name;
    const char* type;
    const char* help;
    double (*value)(const LineSnapshot& line);
};

const LineMetric kLineMetrics[] = {
    {"tavrin_line_online", "gauge", "1 while the line's PLC answers, 0 while the line is offline.",
     [](const LineSnapshot& l) { return l.status.online ? 1.0 : 0.0; }},
    {"tavrin_line_frames_sent_total", "counter", "Requests put on the line, resends included.",
     [](const LineSnapshot& l) { return double(l.statistics.framesSent); }},
    {"tavrin_line_sent_bytes_total", "counter", "Characters sent to the PLC.",
     [](const LineSnapshot& l) { return double(l.statistics.bytesSent); }},
    {"tavrin_line_received_bytes_total", "counter", "Characters received from the PLC.",
     [](const LineSnapshot& l) { return double(l.statistics.bytesReceived); }},
    {"tavrin_line_good_replies_total", "counter", "Replies that checked out.",
     [](const LineSnapshot& l) { return double(l.statistics.goodReplies); }},
    {"tavrin_line_retries_total", "counter", "Failed replies the module resent.",
     [](const LineSnapshot& l) { return double(l.statistics.retries); }},
    {"tavrin_line_give_ups_total", "counter", "Requests given up after their retries.",
     [](const LineSnapshot& l) { return double(l.statistics.giveUps); }},
    {"tavrin_line_late_replies_total", "counter", "Replies that came after their timeout and were dropped.",
     [](const LineSnapshot& l) { return double(l.statistics.lateReplies); }},
    {"tavrin_line_losses_total", "counter", "Times the line itself failed (a connection closed, an adapter gone).",
     [](const LineSnapshot& l) { return double(l.statistics.lineLosses); }},
    {"tavrin_line_reconnects_total", "counter", "Times the line was reopened.",
     [](const LineSnapshot& l) { return double(l.statistics.reconnects); }},
    {"tavrin_line_utilisation_ratio", "gauge",
     "Share of the time since the line opened that its characters take at its configured baud, at most 1.",
     [](const LineSnapshot& l) { return utilisationShare(l.statistics); }},
};

const char* const kOutcomeNames[WriteOutcomeCount] = {"done", "refused", "unavailable", "failed"};

class Writer {
public:
    void family(const char* name, const char* type, const char* help)
    {
        text_ += QStringLiteral("# HELP %1 %2\n# TYPE %1 %3\n")
                     .arg(QLatin1String(name), QLatin1String(help), QLatin1String(type));
    }

    // `labels` as name, value, name, value...
    void sample(const char* name, const QStringList& labels, double value)
    {
        text_ += QLatin1String(name);
        if (!labels.isEmpty()) {
            QStringList pairs;
            for (int k = 0; k + 1 < labels.size(); k += 2)
                pairs << QStringLiteral("%1=\"%2\"").arg(labels.at(k), metricLabelValue(labels.at(k + 1)));
            text_ += QLatin1Char('{') + pairs.join(QLatin1Char(',')) + QLatin1Char('}');
        }
        text_ += QLatin1Char(' ') + QString::number(value, 'g', QLocale::FloatingPointShortest) + QLatin1Char('\n');
    }

    QByteArray bytes() const { return text_.toUtf8(); }

private:
    QString text_;
};

void writeLines(Writer& out, const GatewayConfig& config, const QVector<LineSnapshot>& lines)
{
    const int count = std::min(int(lines.size()), int(config.lines.size()));
    for (const LineMetric& metric : kLineMetrics) {
        out.family(metric.name, metric.type, metric.help);
        for (int l = 0; l < count; ++l)
            out.sample(metric.name, {QStringLiteral("line"), config.lines.at(l).name}, metric.value(lines.at(l)));
    }
    // Left out while the runtime does not measure it: no number is better than a made-up one.
    bool measured = false;
    for (int l = 0; l < count; ++l)
        measured = measured || lines.at(l).turnaroundUs >= 0;
    if (!measured)
        return;
    out.family("tavrin_line_turnaround_seconds", "gauge",
               "Smoothed time from a request's last character to its reply's first.");
    for (int l = 0; l < count; ++l) {
        if (lines.at(l).turnaroundUs >= 0)
            out.sample("tavrin_line_turnaround_seconds", {QStringLiteral("line"), config.lines.at(l).name},
                       double(lines.at(l).turnaroundUs) / 1e6);
    }
}

// One sample per poll class of each line, labelled with the class's every:
// ("fastest" for the tags without one); a figure not known yet is left out.
void writePollClasses(Writer& out, const GatewayConfig& config, const QVector<LineSnapshot>& lines)
{
    const int count = std::min(int(lines.size()), int(config.lines.size()));
    const auto each = [&](const char* name, const char* help, qint64 (*figure)(const PollClassFigures&)) {
        bool known = false;
        for (int l = 0; l < count; ++l) {
            for (const PollClassFigures& figures : lines.at(l).pollClasses)
                known = known || figure(figures) > 0;
        }
        if (!known)
            return;
        out.family(name, "gauge", help);
        for (int l = 0; l < count; ++l) {
            for (const PollClassFigures& figures : lines.at(l).pollClasses) {
                if (figure(figures) > 0)
                    out.sample(name,
                               {QStringLiteral("line"), config.lines.at(l).name, QStringLiteral("every"),
                                figures.periodUs > 0 ? pollPeriodText(int(figures.periodUs / 1000))
                                                     : QStringLiteral("fastest")},
                               double(figure(figures)) / 1e6);
            }
        }
    };
    each("tavrin_line_poll_period_seconds",
         "Mean time between the ends of a poll class's last passes over its read blocks (up to 8).",
         [](const PollClassFigures& f) { return f.achievedPeriodUs; });
    each("tavrin_line_poll_scheduled_period_seconds",
         "The period a poll class is scheduled at: its every:, stretched when the line cannot carry all classes.",
         [](const PollClassFigures& f) { return f.stretchedPeriodUs; });
}

void writeTags(Writer& out, const GatewayConfig& config, const QVector<LineSnapshot>& lines)
{
    int byQuality[3] = {0, 0, 0}; // Waiting, Good, Bad
    out.family("tavrin_tag_good", "gauge", "1 while the tag's value is good, 0 while it is bad or not read yet.");
    for (int l = 0; l < lines.size() && l < config.lines.size(); ++l) {
        for (int t = 0; t < lines.at(l).tags.size(); ++t) {
            const Quality quality = lines.at(l).tags.at(t).quality;
            ++byQuality[int(quality)];
            out.sample("tavrin_tag_good",
                       {QStringLiteral("line"), config.lines.at(l).name, QStringLiteral("tag"),
                        config.lines.at(l).tags.at(t).name},
                       quality == Quality::Good ? 1 : 0);
        }
    }
    out.family("tavrin_gateway_tags", "gauge", "Tags by quality.");
    for (Quality quality : {Quality::Good, Quality::Bad, Quality::Waiting})
        out.sample("tavrin_gateway_tags", {QStringLiteral("quality"), qualityName(quality)}, byQuality[int(quality)]);
}

// Only for the parts the file has: no history: section, no history figures.
void writeHistory(Writer& out, const HistoryFigures& history)
{
    if (history.stored) {
        out.family("tavrin_gateway_history_rows_total", "counter", "Changes written to the history store.");
        out.sample("tavrin_gateway_history_rows_total", {}, double(history.rows));
        out.family("tavrin_gateway_history_removed_rows_total", "counter",
                   "Oldest rows removed from the history store, by the limit that removed them.");
        out.sample("tavrin_gateway_history_removed_rows_total", {QStringLiteral("reason"), QStringLiteral("keep_days")},
                   double(history.removedByAge));
        out.sample("tavrin_gateway_history_removed_rows_total", {QStringLiteral("reason"), QStringLiteral("max_mb")},
                   double(history.removedBySize));
        out.family("tavrin_gateway_history_lost_total", "counter",
                   "Changes never written to the history store: its queue was full, or the file refused a batch.");
        out.sample("tavrin_gateway_history_lost_total", {}, double(history.lost));
    }
    if (!history.forwarding)
        return;
    out.family("tavrin_gateway_mqtt_backlog_messages", "gauge", "Changes the broker has not had yet, to be forwarded.");
    out.sample("tavrin_gateway_mqtt_backlog_messages", {}, double(history.backlog));
    out.family("tavrin_gateway_mqtt_backlog_age_seconds", "gauge", "Age of the oldest change not forwarded yet; 0 without one.");
    out.sample("tavrin_gateway_mqtt_backlog_age_seconds", {}, double(history.backlogAgeMs) / 1000);
    out.family("tavrin_gateway_mqtt_forwarded_total", "counter",
               "Missed changes published on their history topic and acknowledged by the broker.");
    out.sample("tavrin_gateway_mqtt_forwarded_total", {}, double(history.forwarded));
    if (history.stored)
        return;
    out.family("tavrin_gateway_mqtt_backlog_dropped_total", "counter",
               "Missed changes the full memory queue let go (no history: section).");
    out.sample("tavrin_gateway_mqtt_backlog_dropped_total", {}, double(history.queueDropped));
}

} // namespace

QString metricLabelValue(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('"'), QLatin1String("\\\""));
    escaped.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return escaped;
}

QByteArray metricsText(const GatewayConfig& config, const QVector<LineSnapshot>& lines,
                       const GatewayCounters& counters)
{
    Writer out;
    writeLines(out, config, lines);
    writePollClasses(out, config, lines);
    writeTags(out, config, lines);
    out.family("tavrin_gateway_mqtt_publishes_total", "counter", "MQTT messages handed to the broker's client.");
    out.sample("tavrin_gateway_mqtt_publishes_total", {}, double(counters.published));
    out.family("tavrin_gateway_sparkplug_dropped_total", "counter",
               "Changes kept for an offline Sparkplug primary host and dropped for want of room.");
    out.sample("tavrin_gateway_sparkplug_dropped_total", {}, double(counters.sparkplugDropped));
    out.family("tavrin_gateway_writes_total", "counter", "Writes from every face, by how they ended.");
    for (int k = 0; k < WriteOutcomeCount; ++k)
        out.sample("tavrin_gateway_writes_total", {QStringLiteral("result"), QLatin1String(kOutcomeNames[k])},
                   double(counters.writes.at(size_t(k))));
    writeHistory(out, counters.history);
    return out.bytes();
}
