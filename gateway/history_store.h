#pragma once

// The gateway's history: every change it published (value, quality, time)
// as one row of an SQLite file, for the history API and for faces that
// forward what a consumer missed (store-and-forward). Any face may reuse it:
//
//   append(batch)            one transaction per batch, ids given by the caller, ascending
//   range(), lastBefore()    one tag's changes by time, for trends
//   after(id)                every tag's changes in id order, for forwarding
//   cursor(consumer)         the last row a consumer ("mqtt", "sparkplug") took
//
// The file is kept in WAL mode with synchronous=NORMAL: a transaction is
// durable once the WAL is synced at a checkpoint, and a crash of the process
// (kill -9) loses no committed transaction; a power cut may lose the last
// ones since the last sync, never the file's integrity. FULL would sync the
// WAL at every batch, a disk flush four times a second for no gain against
// the crash of the gateway itself.
//
// Writes and reads take two connections, so a long trend query never holds
// up a batch. Every call is thread-safe.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>
#include <mutex>
#include <optional>

struct sqlite3;

// One change as published.
struct HistoryChange {
    qint64 id = 0;                  // ascending, never reused
    QString line;
    QString tag;
    qint64 tsMs = 0;                // the change's own time, ms since the epoch (UTC)
    bool good = false;
    std::optional<double> number;   // a single number or bit (0/1) when good
    QByteArray payload;             // the JSON as published on the live topic
};

struct HistoryPruned {
    qint64 byAge = 0;               // rows older than keep_days
    qint64 bySize = 0;              // rows past max_mb
};

class HistoryStore {
public:
    HistoryStore() = default;
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens (making it when new) the file. False with a message naming it.
    bool open(const QString& path, QString* error);
    void close();

    // The batch in one transaction. False with a message; nothing is kept then.
    bool append(const QVector<HistoryChange>& batch, QString* error);

    // One tag's changes with from <= ts < to, oldest first; at most `limit`
    // (the newest ones when `newest`, still oldest first), -1 for all.
    QVector<HistoryChange> range(const QString& line, const QString& tag, qint64 fromMs, qint64 toMs,
                                 int limit, bool newest = false) const;
    // The same, each row handed to `take` as it is read, without keeping them
    // and without its payload.
    void scan(const QString& line, const QString& tag, qint64 fromMs, qint64 toMs,
              const std::function<void(const HistoryChange&)>& take) const;
    // The tag's last change before `fromMs`.
    std::optional<HistoryChange> lastBefore(const QString& line, const QString& tag, qint64 fromMs) const;
    // Every tag's changes with afterId < id <= upToId, in id order, at most `limit`.
    QVector<HistoryChange> after(qint64 afterId, qint64 upToId, int limit) const;

    qint64 lastId() const;          // 0 when empty
    qint64 rowCount() const;
    qint64 usedBytes() const;       // pages in use, without the free ones the file keeps for reuse
    // SQLite's integrity check of the whole file: "ok", or what is wrong.
    QString integrity() const;

    // A consumer's cursor: every row up to it was taken; -1 when never set.
    qint64 cursor(const QString& consumer) const;
    bool setCursor(const QString& consumer, qint64 id);

    // Removes the rows older than `cutoffMs`, then the oldest ones until the
    // rows in use take at most `maxBytes`.
    HistoryPruned prune(qint64 cutoffMs, qint64 maxBytes);

private:
    bool exec(sqlite3* db, const char* sql, QString* error) const;
    qint64 single(sqlite3* db, const char* sql) const;
    qint64 removeOldest(qint64 rows);

    QString path_;
    sqlite3* writer_ = nullptr;
    sqlite3* reader_ = nullptr;
    mutable std::mutex writing_;    // guards writer_
    mutable std::mutex reading_;    // guards reader_
};
