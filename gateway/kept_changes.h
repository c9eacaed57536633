#pragma once

// Changes the Sparkplug face keeps while its primary host is offline, to
// send them as historical data once the host is back. Behind this small
// interface so that the history store (stored_kept_changes.h) can take the
// memory queue's place.

#include <QByteArray>
#include <QHash>
#include <QVector>

#include <deque>

struct KeptChange {
    int line = 0;
    quint64 alias = 0;
    quint32 datatype = 0;
    QByteArray bytes;   // one value's module bytes; empty: the value was bad (is_null)
    qint64 atMs = 0;    // when it was read, ms since the epoch, UTC
};

class KeptChanges {
public:
    virtual ~KeptChanges() = default;
    virtual void keep(const KeptChange& change) = 0;
    // The line's changes, oldest first, and forgets them.
    virtual QVector<KeptChange> take(int line) = 0;
    // Changes dropped for want of room since the start.
    virtual qint64 dropped() const = 0;
    // Called now and then while the host is born, with which lines are
    // born: their changes from before the previous call reached it live.
    // The memory queue has nothing to forget; a store moves its cursor.
    virtual void hostTook(const QVector<bool>& bornLines) = 0;
};

// In memory, at most `limit` changes in all; past it the line's oldest
// change is dropped for the new one, and counted.
class MemoryKeptChanges : public KeptChanges {
public:
    static constexpr int DefaultLimit = 10000;

    explicit MemoryKeptChanges(int limit = DefaultLimit) : limit_(limit) {}
    void keep(const KeptChange& change) override;
    QVector<KeptChange> take(int line) override;
    qint64 dropped() const override { return dropped_; }
    void hostTook(const QVector<bool>&) override {}

private:
    const int limit_;
    int size_ = 0;
    qint64 dropped_ = 0;
    QHash<int, std::deque<KeptChange>> lines_;
};
