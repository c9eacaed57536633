// GET /api/history's answers from a hand-made series in a real store: each
// change as a point while they fit, min/max buckets past that (a spike kept),
// bad changes, the value before the interval, arrays and bits, and every
// refusal naming its parameter. Expected points are worked out by hand.

#include "history_query.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using L = QLatin1String;

constexpr qint64 T0 = 1796601600000; // 2026-12-07T00:00:00.000Z
const char* const kT0 = "2026-12-07T00:00:00.000Z";

TagConfig tag(const char* name, ValueFormat format, int count = 1)
{
    TagConfig config;
    config.name = QLatin1String(name);
    config.format = format;
    config.count = count;
    return config;
}

HistoryChange change(qint64 id, const char* tagName, qint64 tsMs, const QJsonValue& value)
{
    const bool good = !value.isNull();
    std::optional<double> number;
    if (value.isDouble() || value.isBool())
        number = value.isBool() ? double(value.toBool()) : value.toDouble();
    const QJsonObject payload{{QStringLiteral("value"), value}, {QStringLiteral("quality"), L(good ? "good" : "bad")}};
    return HistoryChange{id, QStringLiteral("press1"), QLatin1String(tagName), tsMs, good, number,
                         QJsonDocument(payload).toJson(QJsonDocument::Compact)};
}

class HistoryQuery : public ::testing::Test {
protected:
    void SetUp() override
    {
        LineConfig line;
        line.name = QStringLiteral("press1");
        line.tags = {tag("speed", ValueFormat::Int16), tag("recipe", ValueFormat::Int16, 3), tag("running", ValueFormat::Bit)};
        config.lines = {line};
        QString error;
        ASSERT_TRUE(store.open(dir.filePath(QStringLiteral("h.db")), &error)) << error.toStdString();
        // speed: 7 five minutes before T0; then 10 every second for 100 s,
        // with a spike to 1000 at 37 s, a bad read at 79 s and a dip to -5 at 85 s.
        QVector<HistoryChange> rows{change(1, "speed", T0 - 300000, 7)};
        for (int s = 0; s < 100; ++s) {
            const QJsonValue value = s == 37 ? QJsonValue(1000) : s == 79 ? QJsonValue() : s == 85 ? QJsonValue(-5) : QJsonValue(10);
            rows.append(change(rows.size() + 1, "speed", T0 + s * 1000, value));
        }
        for (int k = 0; k < 3; ++k)
            rows.append(change(rows.size() + 1, "recipe", T0 + k * 1000, QJsonArray{3 * k + 1, 3 * k + 2, 3 * k + 3}));
        rows.append(change(rows.size() + 1, "running", T0 + 500, true));
        ASSERT_TRUE(store.append(rows, &error)) << error.toStdString();
    }

    HistoryReply ask(const QString& query) { return historyReply(config, &store, QUrlQuery(query), T0 + 3600 * 1000); }

    QTemporaryDir dir;
    GatewayConfig config;
    HistoryStore store;
};

QJsonObject point(const char* ts, const QJsonValue& min, const QJsonValue& max, const QJsonValue& last, bool good)
{
    return QJsonObject{{L("ts"), L(ts)}, {L("min"), min}, {L("max"), max}, {L("last"), last}, {L("good"), good}};
}

TEST_F(HistoryQuery, PastNChangesEachBucketKeepsItsMinMaxLastAndBadness)
{
    const HistoryReply reply = ask(QStringLiteral("line=press1&tag=speed&from=2026-12-07T00:00:00Z&to=2026-12-07T00:01:40Z&points=10"));
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body.value(L("from")).toString(), QLatin1String(kT0));
    EXPECT_EQ(reply.body.value(L("to")).toString(), QStringLiteral("2026-12-07T00:01:40.000Z"));
    const QJsonValue null;
    // 100 changes, points=10: five buckets of 20 s, after the value before from.
    const QJsonArray expected{
        point("2026-12-06T23:55:00.000Z", 7, 7, 7, true),
        point("2026-12-07T00:00:00.000Z", 10, 10, 10, true),
        point("2026-12-07T00:00:20.000Z", 10, 1000, 10, true),  // the spike at 37 s
        point("2026-12-07T00:00:40.000Z", 10, 10, 10, true),
        point("2026-12-07T00:01:00.000Z", 10, 10, null, false), // bad at 79 s, its last
        point("2026-12-07T00:01:20.000Z", -5, 10, 10, true),    // the dip at 85 s
    };
    EXPECT_EQ(reply.body.value(L("points")).toArray(), expected)
        << QJsonDocument(reply.body).toJson(QJsonDocument::Compact).toStdString();
}

TEST_F(HistoryQuery, WithinNChangesEachChangeIsAPoint)
{
    const QJsonArray points = ask(QStringLiteral("line=press1&tag=speed&from=2026-12-07T00:00:00.000Z&to=2026-12-07T00:01:40Z"))
                                  .body.value(L("points")).toArray();
    ASSERT_EQ(points.size(), 101);
    EXPECT_EQ(points.at(1), point(kT0, 10, 10, 10, true));
    EXPECT_EQ(points.at(38), point("2026-12-07T00:00:37.000Z", 1000, 1000, 1000, true));
    EXPECT_EQ(points.at(80), point("2026-12-07T00:01:19.000Z", QJsonValue(), QJsonValue(), QJsonValue(), false));
}

TEST_F(HistoryQuery, ArraysGiveTheirLastNValuesAndBitsAreNumbers)
{
    const QJsonArray recipe = ask(QStringLiteral("line=press1&tag=recipe&from=2026-12-07T00:00:00Z&points=2")).body.value(L("points")).toArray();
    const QJsonArray expected{QJsonObject{{L("ts"), L("2026-12-07T00:00:01.000Z")}, {L("value"), QJsonArray{4, 5, 6}}, {L("good"), true}},
                              QJsonObject{{L("ts"), L("2026-12-07T00:00:02.000Z")}, {L("value"), QJsonArray{7, 8, 9}}, {L("good"), true}}};
    EXPECT_EQ(recipe, expected);
    const QJsonArray running = ask(QStringLiteral("line=press1&tag=running&from=2026-12-07T00:00:00Z")).body.value(L("points")).toArray();
    EXPECT_EQ(running, QJsonArray{point("2026-12-07T00:00:00.500Z", 1, 1, 1, true)});
}

TEST_F(HistoryQuery, AWrongRequestIsRefusedNamingWhatIsWrong)
{
    const struct {
        const char* query;
        int status;
        const char* named;
    } rows[] = {
        {"tag=speed", 400, "line: missing"},
        {"line=press1", 400, "tag: missing"},
        {"line=press1&tag=speed&from=yesterday", 400, "from \"yesterday\""},
        {"line=press1&tag=speed&from=2026-12-07T01:00:00Z&to=2026-12-07T00:00:00Z", 400, "from: must come before to"},
        {"line=press1&tag=speed&points=0", 400, "points \"0\""},
        {"line=press1&tag=speed&points=5001", 400, "points \"5001\""},
        {"line=press1&tag=speed&point=10", 400, "unknown parameter \"point\""},
        {"line=press1&tag=nosuch", 404, "no tag press1/nosuch"},
    };
    for (const auto& row : rows) {
        const HistoryReply reply = ask(QLatin1String(row.query));
        EXPECT_EQ(reply.status, row.status) << row.query;
        EXPECT_TRUE(reply.body.value(L("error")).toString().startsWith(QLatin1String(row.named)))
            << row.query << ": " << reply.body.value(L("error")).toString().toStdString();
    }
    const HistoryReply none = historyReply(config, nullptr, QUrlQuery(QStringLiteral("line=press1&tag=speed")), T0);
    EXPECT_EQ(none.status, 503);
    EXPECT_EQ(none.body.value(L("error")).toString(), QStringLiteral("no history: the configuration has no history: section"));
}

} // namespace
