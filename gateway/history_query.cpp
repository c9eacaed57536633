#include "history_query.h"

#include "model_json.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

constexpr int DefaultPoints = 500;
constexpr int MaxPoints = 5000;
constexpr qint64 DefaultSpanMs = 3600 * 1000;
const char* const kKeys[] = {"line", "tag", "from", "to", "points"};

struct Request {
    QString line;
    QString tag;
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int points = DefaultPoints;
};

HistoryReply refused(int status, const QString& error)
{
    return HistoryReply{status, QJsonObject{{QStringLiteral("error"), error}}};
}

QString utcAt(qint64 ms)
{
    return utcText(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
}

// ISO 8601; a time without Z or an offset is taken as UTC.
bool parseTime(const QString& text, qint64* ms)
{
    QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!at.isValid())
        return false;
    if (at.timeSpec() == Qt::LocalTime)
        at.setTimeSpec(Qt::UTC);
    *ms = at.toMSecsSinceEpoch();
    return true;
}

// The request, or the reply that says which parameter is wrong.
std::optional<HistoryReply> readRequest(const QUrlQuery& query, qint64 nowMs, Request* request)
{
    for (const auto& item : query.queryItems()) {
        if (std::none_of(std::begin(kKeys), std::end(kKeys), [&](const char* key) { return item.first == QLatin1String(key); }))
            return refused(400, QStringLiteral("unknown parameter \"%1\"; accepted are line, tag, from, to, points")
                                    .arg(item.first.left(64)));
    }
    request->line = query.queryItemValue(QStringLiteral("line"), QUrl::FullyDecoded);
    request->tag = query.queryItemValue(QStringLiteral("tag"), QUrl::FullyDecoded);
    if (request->line.isEmpty() || request->tag.isEmpty())
        return refused(400, QStringLiteral("%1: missing; expected /api/history?line=LINE&tag=TAG")
                                .arg(request->line.isEmpty() ? QStringLiteral("line") : QStringLiteral("tag")));
    request->toMs = nowMs;
    const QString to = query.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded);
    if (!to.isEmpty() && !parseTime(to, &request->toMs))
        return refused(400, QStringLiteral("to \"%1\": expected an ISO 8601 time such as 2026-12-07T10:00:00Z").arg(to.left(64)));
    request->fromMs = request->toMs - DefaultSpanMs;
    const QString from = query.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded);
    if (!from.isEmpty() && !parseTime(from, &request->fromMs))
        return refused(400, QStringLiteral("from \"%1\": expected an ISO 8601 time such as 2026-12-07T09:00:00Z").arg(from.left(64)));
    if (request->fromMs >= request->toMs)
        return refused(400, QStringLiteral("from: must come before to"));
    const QString points = query.queryItemValue(QStringLiteral("points"));
    if (!points.isEmpty()) {
        bool ok = false;
        request->points = points.toInt(&ok);
        if (!ok || request->points < 1 || request->points > MaxPoints)
            return refused(400, QStringLiteral("points \"%1\": expected a whole number from 1 to %2").arg(points.left(64)).arg(MaxPoints));
    }
    return std::nullopt;
}

QJsonValue orNull(std::optional<double> number)
{
    return number ? QJsonValue(*number) : QJsonValue(QJsonValue::Null);
}

// One change as a point: a number's min = max = last, or its JSON value.
QJsonObject changePoint(const HistoryChange& change, bool numeric)
{
    QJsonObject point{{QStringLiteral("ts"), utcAt(change.tsMs)}, {QStringLiteral("good"), change.good}};
    if (!numeric) {
        point.insert(QStringLiteral("value"), change.good ? QJsonDocument::fromJson(change.payload).object().value(QStringLiteral("value"))
                                                          : QJsonValue(QJsonValue::Null));
        return point;
    }
    const QJsonValue value = change.good ? orNull(change.number) : QJsonValue(QJsonValue::Null);
    point.insert(QStringLiteral("min"), value);
    point.insert(QStringLiteral("max"), value);
    point.insert(QStringLiteral("last"), value);
    return point;
}

struct Bucket {
    bool used = false;
    bool good = true;
    std::optional<double> min;
    std::optional<double> max;
    std::optional<double> last;
};

// Every change of the interval folded into `count` equal buckets.
QJsonArray bucketPoints(const HistoryStore& store, const Request& request, int count)
{
    QVector<Bucket> buckets(count);
    const qint64 span = request.toMs - request.fromMs;
    store.scan(request.line, request.tag, request.fromMs, request.toMs, [&](const HistoryChange& change) {
        Bucket& bucket = buckets[int(std::min<qint64>(count - 1, (change.tsMs - request.fromMs) * count / span))];
        bucket.used = true;
        const std::optional<double> value = change.good ? change.number : std::nullopt;
        bucket.good = bucket.good && change.good;
        bucket.last = value;
        if (value) {
            bucket.min = bucket.min ? std::min(*bucket.min, *value) : *value;
            bucket.max = bucket.max ? std::max(*bucket.max, *value) : *value;
        }
    });
    QJsonArray points;
    for (int b = 0; b < count; ++b) {
        const Bucket& bucket = buckets.at(b);
        if (!bucket.used)
            continue;
        points.append(QJsonObject{{QStringLiteral("ts"), utcAt(request.fromMs + span * b / count)},
                                  {QStringLiteral("min"), orNull(bucket.min)},
                                  {QStringLiteral("max"), orNull(bucket.max)},
                                  {QStringLiteral("last"), orNull(bucket.last)},
                                  {QStringLiteral("good"), bucket.good}});
    }
    return points;
}

QJsonArray historyPoints(const HistoryStore& store, const TagConfig& tag, const Request& request)
{
    const bool numeric = tag.count == 1 && tag.format != ValueFormat::Hex;
    QJsonArray points;
    if (const auto before = store.lastBefore(request.line, request.tag, request.fromMs))
        points.append(changePoint(*before, numeric));
    // One more than asked tells whether the interval needs buckets.
    const int limit = numeric ? request.points + 1 : request.points;
    const QVector<HistoryChange> changes = store.range(request.line, request.tag, request.fromMs, request.toMs, limit, !numeric);
    if (changes.size() > request.points) {
        for (const QJsonValue point : bucketPoints(store, request, std::max(1, request.points / 2)))
            points.append(point);
        return points;
    }
    for (const HistoryChange& change : changes)
        points.append(changePoint(change, numeric));
    return points;
}

} // namespace

HistoryReply historyReply(const GatewayConfig& config, const HistoryStore* store, const QUrlQuery& query, qint64 nowMs)
{
    if (!store)
        return refused(503, QStringLiteral("no history: the configuration has no history: section"));
    Request request;
    if (const auto wrong = readRequest(query, nowMs, &request))
        return *wrong;
    const int line = config.lineIndex(request.line);
    const int tag = line < 0 ? -1 : config.lines.at(line).tagIndex(request.tag);
    if (tag < 0)
        return refused(404, QStringLiteral("no tag %1/%2 in this gateway").arg(request.line.left(64), request.tag.left(64)));
    return HistoryReply{200, QJsonObject{{QStringLiteral("line"), request.line},
                                         {QStringLiteral("tag"), request.tag},
                                         {QStringLiteral("from"), utcAt(request.fromMs)},
                                         {QStringLiteral("to"), utcAt(request.toMs)},
                                         {QStringLiteral("points"), historyPoints(*store, config.lines.at(line).tags.at(tag), request)}}};
}
