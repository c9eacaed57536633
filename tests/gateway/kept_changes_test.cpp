// The Sparkplug face's memory queue: bounded in all, a line's oldest change
// dropped for a new one and counted, each line taken back oldest first.

#include "kept_changes.h"

#include <gtest/gtest.h>

namespace {

KeptChange change(int line, qint64 atMs)
{
    return KeptChange{line, quint64(line), 0, QByteArray(), atMs};
}

QVector<qint64> times(const QVector<KeptChange>& changes)
{
    QVector<qint64> at;
    for (const KeptChange& c : changes)
        at.append(c.atMs);
    return at;
}

TEST(MemoryKeptChanges, DropsTheLinesOldestPastItsLimitAndCountsIt)
{
    MemoryKeptChanges kept(3);
    for (const auto& [line, at] : {std::pair{0, 1}, {1, 2}, {0, 3}, {0, 4}, {2, 5}})
        kept.keep(change(line, at));
    // Full at 3: line 0's oldest (1) made room for 4; line 2 had nothing to give up.
    EXPECT_EQ(kept.dropped(), 2);
    EXPECT_EQ(times(kept.take(0)), (QVector<qint64>{3, 4}));
    EXPECT_EQ(times(kept.take(2)), QVector<qint64>());
    kept.keep(change(2, 6)); // room again once taken
    EXPECT_EQ(times(kept.take(2)), QVector<qint64>{6});
    EXPECT_EQ(times(kept.take(1)), QVector<qint64>{2});
    EXPECT_EQ(kept.dropped(), 2);
}

} // namespace
