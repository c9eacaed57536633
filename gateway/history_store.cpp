#include "history_store.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

namespace {

// A row per tag ever stored; its changes name it by number, which keeps a
// change at about 80 bytes with its index entry.
const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, line TEXT NOT NULL, tag TEXT NOT NULL, "
    "  UNIQUE(line, tag));"
    // AUTOINCREMENT: sqlite_sequence keeps the highest id ever stored, so that
    // an id is never given twice, even when retention emptied the table.
    "CREATE TABLE IF NOT EXISTS changes(id INTEGER PRIMARY KEY AUTOINCREMENT, series INTEGER NOT NULL, "
    "  ts INTEGER NOT NULL, good INTEGER NOT NULL, num REAL, payload TEXT);"
    "CREATE INDEX IF NOT EXISTS changes_by_time ON changes(series, ts);"
    "CREATE TABLE IF NOT EXISTS cursors(consumer TEXT PRIMARY KEY, id INTEGER NOT NULL);";

// Statements are short-lived: each call prepares its own, and the scope frees it.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return statement_ != nullptr; }
    void bind(int at, qint64 value) { sqlite3_bind_int64(statement_, at, value); }
    void bind(int at, const QByteArray& text)
    {
        sqlite3_bind_text(statement_, at, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    void bind(int at, const std::optional<QByteArray>& text)
    {
        if (text)
            bind(at, *text);
        else
            sqlite3_bind_null(statement_, at);
    }
    void bind(int at, std::optional<double> value)
    {
        if (value)
            sqlite3_bind_double(statement_, at, *value);
        else
            sqlite3_bind_null(statement_, at);
    }
    bool step() { return statement_ && sqlite3_step(statement_) == SQLITE_ROW; }
    void reset() { sqlite3_reset(statement_); }
    bool run()
    {
        if (!statement_)
            return false;
        const int code = sqlite3_step(statement_);
        sqlite3_reset(statement_);
        return code == SQLITE_DONE || code == SQLITE_ROW;
    }
    qint64 integer(int column) const { return sqlite3_column_int64(statement_, column); }
    bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    QByteArray text(int column) const
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return QByteArray(bytes, sqlite3_column_bytes(statement_, column));
    }
    std::optional<double> number(int column) const
    {
        if (sqlite3_column_type(statement_, column) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_double(statement_, column);
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// The columns every query of changes reads, in this order.
#define CHANGE_COLUMNS "c.id, s.line, s.tag, c.ts, c.good, c.num, c.payload"

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// What a row keeps of a payload: nothing for a good number, which its own
// column gives back, else the JSON without "ts", which the ts column gives
// back. A row of a good int16 is then about 30 bytes instead of 100.
std::optional<QByteArray> storedPayload(const HistoryChange& change)
{
    QJsonObject object = QJsonDocument::fromJson(change.payload).object();
    if (!object.contains(QStringLiteral("ts")))
        return change.payload; // not a tag state: kept as it is
    object.remove(QStringLiteral("ts"));
    const QJsonValue value = object.value(QStringLiteral("value"));
    if (change.good && change.number && value.isDouble() && value.toDouble() == *change.number && object.size() == 2)
        return std::nullopt;
    return compact(object);
}

// The payload as published, from what the row kept.
QByteArray publishedPayload(const Statement& row, qint64 tsMs, std::optional<double> number)
{
    const QString ts = QDateTime::fromMSecsSinceEpoch(tsMs, Qt::UTC).toString(Qt::ISODateWithMs);
    if (row.isNull(6))
        return compact(QJsonObject{{QStringLiteral("quality"), QStringLiteral("good")},
                                   {QStringLiteral("ts"), ts},
                                   {QStringLiteral("value"), number ? *number : 0.0}});
    const QByteArray kept = row.text(6);
    QJsonObject object = QJsonDocument::fromJson(kept).object();
    if (!object.contains(QStringLiteral("quality")))
        return kept;
    object.insert(QStringLiteral("ts"), ts);
    return compact(object);
}

// `payload`: false leaves it out, for a scan that reads numbers only.
HistoryChange changeAt(const Statement& row, bool payload = true)
{
    HistoryChange change;
    change.id = row.integer(0);
    change.line = QString::fromUtf8(row.text(1));
    change.tag = QString::fromUtf8(row.text(2));
    change.tsMs = row.integer(3);
    change.good = row.integer(4) != 0;
    change.number = row.number(5);
    if (payload)
        change.payload = publishedPayload(row, change.tsMs, change.number);
    return change;
}

QString lastError(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

} // namespace

HistoryStore::~HistoryStore()
{
    close();
}

bool HistoryStore::exec(sqlite3* db, const char* sql, QString* error) const
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QStringLiteral("history %1: %2").arg(path_, QString::fromUtf8(message ? message : "failed"));
    sqlite3_free(message);
    return false;
}

qint64 HistoryStore::single(sqlite3* db, const char* sql) const
{
    Statement query(db, sql);
    return query.step() ? query.integer(0) : 0;
}

bool HistoryStore::open(const QString& path, QString* error)
{
    close();
    path_ = path;
    const QByteArray file = path.toUtf8();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    for (sqlite3** db : {&writer_, &reader_}) {
        if (sqlite3_open_v2(file.constData(), db, flags, nullptr) != SQLITE_OK) {
            *error = QStringLiteral("history %1: cannot open it: %2").arg(path, lastError(*db));
            close();
            return false;
        }
        // A reader waits for a checkpoint or a schema change rather than failing.
        sqlite3_busy_timeout(*db, 5000);
        if (db == &writer_
            && !(exec(writer_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                               "PRAGMA journal_size_limit=67108864;", error)
                 && exec(writer_, kSchema, error))) {
            close();
            return false;
        }
    }
    // A file that is no database, or a damaged one, says so now, not at the first batch.
    QString check;
    if (!exec(reader_, "SELECT count(*) FROM series", &check)) {
        *error = check;
        close();
        return false;
    }
    return true;
}

void HistoryStore::close()
{
    std::lock_guard<std::mutex> writing(writing_);
    std::lock_guard<std::mutex> reading(reading_);
    sqlite3_close(reader_);
    sqlite3_close(writer_);
    reader_ = nullptr;
    writer_ = nullptr;
}

bool HistoryStore::append(const QVector<HistoryChange>& batch, QString* error)
{
    std::lock_guard<std::mutex> lock(writing_);
    if (!writer_ || !exec(writer_, "BEGIN", error))
        return false;
    Statement series(writer_, "INSERT OR IGNORE INTO series(line, tag) VALUES(?, ?)");
    Statement seriesId(writer_, "SELECT id FROM series WHERE line = ? AND tag = ?");
    Statement insert(writer_, "INSERT INTO changes(id, series, ts, good, num, payload) VALUES(?, ?, ?, ?, ?, ?)");
    QHash<QPair<QString, QString>, qint64> known; // series ids met in this batch
    bool ok = series.ok() && seriesId.ok() && insert.ok();
    for (const HistoryChange& change : batch) {
        if (!ok)
            break;
        const auto key = qMakePair(change.line, change.tag);
        if (!known.contains(key)) {
            series.bind(1, change.line.toUtf8());
            series.bind(2, change.tag.toUtf8());
            ok = series.run();
            seriesId.bind(1, change.line.toUtf8());
            seriesId.bind(2, change.tag.toUtf8());
            known.insert(key, seriesId.step() ? seriesId.integer(0) : 0);
            seriesId.reset();
        }
        insert.bind(1, change.id);
        insert.bind(2, known.value(key));
        insert.bind(3, change.tsMs);
        insert.bind(4, qint64(change.good ? 1 : 0));
        insert.bind(5, change.number);
        insert.bind(6, storedPayload(change));
        ok = ok && insert.run();
    }
    if (ok && exec(writer_, "COMMIT", error))
        return true;
    if (error && ok == false)
        *error = QStringLiteral("history %1: a batch of %2 changes was not kept: %3").arg(path_).arg(batch.size()).arg(lastError(writer_));
    exec(writer_, "ROLLBACK", nullptr);
    return false;
}

QVector<HistoryChange> HistoryStore::range(const QString& line, const QString& tag, qint64 fromMs, qint64 toMs,
                                           int limit, bool newest) const
{
    std::lock_guard<std::mutex> lock(reading_);
    QVector<HistoryChange> changes;
    if (!reader_)
        return changes;
    Statement query(reader_, newest ? "SELECT " CHANGE_COLUMNS " FROM changes c JOIN series s ON s.id = c.series "
                                      "WHERE s.line = ? AND s.tag = ? AND c.ts >= ? AND c.ts < ? "
                                      "ORDER BY c.ts DESC, c.id DESC LIMIT ?"
                                    : "SELECT " CHANGE_COLUMNS " FROM changes c JOIN series s ON s.id = c.series "
                                      "WHERE s.line = ? AND s.tag = ? AND c.ts >= ? AND c.ts < ? "
                                      "ORDER BY c.ts, c.id LIMIT ?");
    query.bind(1, line.toUtf8());
    query.bind(2, tag.toUtf8());
    query.bind(3, fromMs);
    query.bind(4, toMs);
    query.bind(5, qint64(limit));
    while (query.step())
        changes.append(changeAt(query));
    if (newest)
        std::reverse(changes.begin(), changes.end());
    return changes;
}

void HistoryStore::scan(const QString& line, const QString& tag, qint64 fromMs, qint64 toMs,
                        const std::function<void(const HistoryChange&)>& take) const
{
    std::lock_guard<std::mutex> lock(reading_);
    if (!reader_)
        return;
    Statement query(reader_, "SELECT " CHANGE_COLUMNS " FROM changes c JOIN series s ON s.id = c.series "
                             "WHERE s.line = ? AND s.tag = ? AND c.ts >= ? AND c.ts < ? ORDER BY c.ts, c.id");
    query.bind(1, line.toUtf8());
    query.bind(2, tag.toUtf8());
    query.bind(3, fromMs);
    query.bind(4, toMs);
    while (query.step())
        take(changeAt(query, false));
}

std::optional<HistoryChange> HistoryStore::lastBefore(const QString& line, const QString& tag, qint64 fromMs) const
{
    std::lock_guard<std::mutex> lock(reading_);
    if (!reader_)
        return std::nullopt;
    Statement query(reader_, "SELECT " CHANGE_COLUMNS " FROM changes c JOIN series s ON s.id = c.series "
                             "WHERE s.line = ? AND s.tag = ? AND c.ts < ? ORDER BY c.ts DESC, c.id DESC LIMIT 1");
    query.bind(1, line.toUtf8());
    query.bind(2, tag.toUtf8());
    query.bind(3, fromMs);
    if (!query.step())
        return std::nullopt;
    return changeAt(query);
}

QVector<HistoryChange> HistoryStore::after(qint64 afterId, qint64 upToId, int limit) const
{
    std::lock_guard<std::mutex> lock(reading_);
    QVector<HistoryChange> changes;
    if (!reader_)
        return changes;
    Statement query(reader_, "SELECT " CHANGE_COLUMNS " FROM changes c JOIN series s ON s.id = c.series "
                             "WHERE c.id > ? AND c.id <= ? ORDER BY c.id LIMIT ?");
    query.bind(1, afterId);
    query.bind(2, upToId);
    query.bind(3, qint64(limit));
    while (query.step())
        changes.append(changeAt(query));
    return changes;
}

qint64 HistoryStore::lastId() const
{
    std::lock_guard<std::mutex> lock(writing_);
    return writer_ ? single(writer_, "SELECT seq FROM sqlite_sequence WHERE name = 'changes'") : 0;
}

qint64 HistoryStore::rowCount() const
{
    std::lock_guard<std::mutex> lock(writing_);
    return writer_ ? single(writer_, "SELECT count(*) FROM changes") : 0;
}

qint64 HistoryStore::usedBytes() const
{
    std::lock_guard<std::mutex> lock(writing_);
    if (!writer_)
        return 0;
    const qint64 pages = single(writer_, "PRAGMA page_count") - single(writer_, "PRAGMA freelist_count");
    return pages * single(writer_, "PRAGMA page_size");
}

QString HistoryStore::integrity() const
{
    std::lock_guard<std::mutex> lock(reading_);
    if (!reader_)
        return QStringLiteral("not open");
    Statement check(reader_, "PRAGMA integrity_check");
    QStringList problems;
    while (check.step())
        problems << QString::fromUtf8(check.text(0));
    return problems.join(QLatin1Char('\n'));
}

qint64 HistoryStore::cursor(const QString& consumer) const
{
    std::lock_guard<std::mutex> lock(reading_);
    if (!reader_)
        return 0;
    Statement query(reader_, "SELECT id FROM cursors WHERE consumer = ?");
    query.bind(1, consumer.toUtf8());
    return query.step() ? query.integer(0) : -1;
}

bool HistoryStore::setCursor(const QString& consumer, qint64 id)
{
    std::lock_guard<std::mutex> lock(writing_);
    if (!writer_)
        return false;
    Statement update(writer_, "INSERT INTO cursors(consumer, id) VALUES(?, ?) "
                              "ON CONFLICT(consumer) DO UPDATE SET id = excluded.id");
    update.bind(1, consumer.toUtf8());
    update.bind(2, id);
    return update.run();
}

qint64 HistoryStore::removeOldest(qint64 rows)
{
    Statement remove(writer_, "DELETE FROM changes WHERE id IN (SELECT id FROM changes ORDER BY id LIMIT ?)");
    remove.bind(1, rows);
    return remove.run() ? sqlite3_changes(writer_) : 0;
}

HistoryPruned HistoryStore::prune(qint64 cutoffMs, qint64 maxBytes)
{
    HistoryPruned pruned;
    const qint64 used = usedBytes();
    std::lock_guard<std::mutex> lock(writing_);
    if (!writer_)
        return pruned;
    // Ids follow the time the gateway published, so the rows past the cutoff
    // are the oldest ids: the last of them is found by halving the id range
    // (one indexed look each), not by reading every row's time.
    qint64 low = single(writer_, "SELECT min(id) FROM changes") - 1; // its ts is before the cutoff, or no row
    qint64 high = single(writer_, "SELECT max(id) FROM changes");
    Statement tsFrom(writer_, "SELECT ts FROM changes WHERE id >= ? ORDER BY id LIMIT 1");
    while (low < high) {
        const qint64 middle = low + (high - low + 1) / 2;
        tsFrom.bind(1, middle);
        const bool before = tsFrom.step() && tsFrom.integer(0) < cutoffMs;
        tsFrom.reset();
        if (before)
            low = middle;
        else
            high = middle - 1;
    }
    Statement old(writer_, "DELETE FROM changes WHERE id <= ?");
    old.bind(1, low);
    if (old.run())
        pruned.byAge = sqlite3_changes(writer_);
    if (used <= maxBytes)
        return pruned;
    // Deleting frees pages for reuse: the rows go in rounds, each the share of
    // rows that the excess is of the pages used, and 1 % more, until it fits.
    for (int round = 0; round < 8; ++round) {
        const qint64 pages = single(writer_, "PRAGMA page_count") - single(writer_, "PRAGMA freelist_count");
        const qint64 bytes = pages * single(writer_, "PRAGMA page_size");
        const qint64 rows = single(writer_, "SELECT count(*) FROM changes");
        if (bytes <= maxBytes || rows == 0)
            break;
        const qint64 share = qint64(double(rows) * (double(bytes - maxBytes) / double(bytes) + 0.01)) + 1;
        pruned.bySize += removeOldest(share);
    }
    return pruned;
}
