#include "stored_kept_changes.h"

#include "tag_value.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

const char* const CursorName = "sparkplug";
// Rows read from the store at a time.
constexpr int PageRows = 1000;

int tagIndex(const LineConfig& line, const QString& name)
{
    for (int t = 0; t < line.tags.size(); ++t) {
        if (line.tags.at(t).name == name)
            return t;
    }
    return -1;
}

} // namespace

StoredKeptChanges::StoredKeptChanges(HistoryRecorder& recorder, const GatewayConfig& config, int limit)
    : recorder_(recorder), config_(config), metrics_(nodeMetrics(config.lines)), limit_(limit)
{
}

// On the face's thread, once the store is open.
void StoredKeptChanges::begin()
{
    if (begun_)
        return;
    begun_ = true;
    cursor_ = recorder_.store().cursor(QLatin1String(CursorName));
    if (cursor_ < 0) {
        cursor_ = recorder_.openedAtId();
        recorder_.store().setCursor(QLatin1String(CursorName), cursor_);
    }
    sent_.fill(cursor_, config_.lines.size());
    seen_ = cursor_;
}

QVector<KeptChange> StoredKeptChanges::take(int line)
{
    begin();
    recorder_.writeNow(); // what still waits in the recorder's queue, first
    const qint64 upTo = recorder_.settledId();
    const QString name = config_.lines.at(line).name;
    std::deque<KeptChange> changes;
    for (qint64 from = sent_.at(line);;) {
        const QVector<HistoryChange> rows = recorder_.store().after(from, upTo, PageRows);
        if (rows.isEmpty())
            break;
        for (const HistoryChange& row : rows) {
            if (row.line == name)
                appendRow(line, row, &changes);
        }
        from = rows.last().id;
    }
    sent_[line] = std::max(sent_.at(line), upTo);
    saveCursor();
    return QVector<KeptChange>(changes.begin(), changes.end());
}

// The row's metrics, each of a tag's values; one the tag no longer has is left out.
void StoredKeptChanges::appendRow(int line, const HistoryChange& row, std::deque<KeptChange>* changes)
{
    const LineConfig& config = config_.lines.at(line);
    const int tag = tagIndex(config, row.tag);
    const QJsonObject payload = QJsonDocument::fromJson(row.payload).object();
    const QString quality = payload.value(QStringLiteral("quality")).toString();
    if (tag < 0 || quality == QLatin1String("waiting"))
        return;
    QVector<QByteArray> values;
    QString error;
    if (quality != QLatin1String("good")
        || !encodeTagValue(config.tags.at(tag), payload.value(QStringLiteral("value")), &values, &error))
        values.clear(); // every value is_null
    for (const SparkplugMetricDef& def : metrics_.at(line)) {
        if (def.tag != tag)
            continue;
        changes->push_back(KeptChange{line, def.alias, def.datatype, values.value(def.value), row.tsMs});
        if (int(changes->size()) > limit_) {
            changes->pop_front();
            ++dropped_;
        }
    }
}

void StoredKeptChanges::hostTook(const QVector<bool>& bornLines)
{
    begin();
    for (int line = 0; line < sent_.size() && line < bornLines.size(); ++line) {
        if (bornLines.at(line))
            sent_[line] = std::max(sent_.at(line), seen_);
    }
    // Read now, taken as sent at the next call: by then the face has handled
    // every change recorded up to it.
    seen_ = recorder_.settledId();
    saveCursor();
}

void StoredKeptChanges::saveCursor()
{
    const qint64 lowest = sent_.isEmpty() ? cursor_ : *std::min_element(sent_.begin(), sent_.end());
    if (lowest > cursor_ && recorder_.store().setCursor(QLatin1String(CursorName), lowest))
        cursor_ = lowest;
}
