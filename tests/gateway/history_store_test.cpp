// The history store on its own: batches through the recorder on a fake
// clock, retention by age and by size, cursors across a reopening, and a
// writer killed with SIGKILL in the middle of its transactions.

#include "history_recorder.h"
#include "history_store.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr qint64 DayMs = 24 * 3600 * 1000;
constexpr qint64 T0 = 1796600000000; // 2026-12-07T...Z, any fixed time

// An int16 tag's good value, as the module's two bytes, low byte first.
TagState good(qint16 value, qint64 atMs)
{
    const QByteArray bytes(reinterpret_cast<const char*>(&value), 2);
    return TagState{Quality::Good, TypedValue{ValueFormat::Int16, ElementKind::Word, 1, bytes}, QString(),
                    QDateTime::fromMSecsSinceEpoch(atMs, Qt::UTC)};
}

TEST(HistoryStore, RecorderWritesBatchesInIdOrderAndRetentionRemovesTheOldestCounted)
{
    QTemporaryDir dir;
    GatewayConfig config;
    config.history = HistoryConfig{true, dir.filePath(QStringLiteral("h.db")), 2, 256};
    config.lines = {LineConfig()};
    config.lines[0].name = QStringLiteral("press1");
    config.lines[0].tags = {TagConfig()};
    config.lines[0].tags[0].name = QStringLiteral("speed");
    HistoryCounters counters;
    qint64 now = T0;
    HistoryRecorder recorder(config, counters, [&] { return now; });
    QString error;
    ASSERT_TRUE(recorder.start(&error)) << error.toStdString();
    // Three days of one change an hour: 72 rows, the first 24 past keep_days once it is T0 + 3 days.
    for (int hour = 0; hour < 72; ++hour)
        EXPECT_EQ(recorder.record(0, 0, good(hour, T0 + hour * 3600 * 1000)), hour + 1);
    recorder.writeNow();
    EXPECT_EQ(recorder.settledId(), 72);
    EXPECT_EQ(counters.rows, 72);
    const QVector<HistoryChange> all = recorder.store().range(QStringLiteral("press1"), QStringLiteral("speed"), 0, T0 + 4 * DayMs, -1);
    ASSERT_EQ(all.size(), 72);
    EXPECT_EQ(all.at(5).number, 5.0);

    now = T0 + 3 * DayMs - 1; // cutoff: T0 + 1 day - 1 ms; hours 0 to 23 are older
    recorder.writeNow();
    EXPECT_EQ(counters.removedByAge, 24);
    EXPECT_EQ(recorder.store().rowCount(), 48);
    EXPECT_EQ(recorder.store().range(QStringLiteral("press1"), QStringLiteral("speed"), 0, T0 + 4 * DayMs, 1).first().id, 25);
    recorder.stop();
}

TEST(HistoryStore, PastMaxMbTheOldestRowsGoAndIdsAreNeverGivenTwice)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    HistoryStore store;
    QString error;
    ASSERT_TRUE(store.open(path, &error)) << error.toStdString();
    QVector<HistoryChange> batch;
    for (qint64 id = 1; id <= 40000; ++id)
        batch.append(HistoryChange{id, QStringLiteral("press1"), QStringLiteral("speed"), T0 + id, true, double(id),
                                   QByteArray(40, 'x')});
    ASSERT_TRUE(store.append(batch, &error)) << error.toStdString();
    ASSERT_GT(store.usedBytes(), 2 << 20);
    const HistoryPruned pruned = store.prune(0, 1 << 20);
    EXPECT_LE(store.usedBytes(), 1 << 20);
    EXPECT_EQ(pruned.byAge, 0);
    EXPECT_EQ(pruned.bySize + store.rowCount(), 40000);
    // What is left is the newest, without a gap.
    const QVector<HistoryChange> left = store.after(0, 40000, -1);
    ASSERT_FALSE(left.isEmpty());
    EXPECT_EQ(left.last().id, 40000);
    EXPECT_EQ(left.first().id, 40000 - left.size() + 1);

    EXPECT_EQ(store.cursor(QStringLiteral("mqtt")), -1);
    EXPECT_TRUE(store.setCursor(QStringLiteral("mqtt"), 39000));
    store.prune(T0 + 50000, 1 << 20); // every row
    EXPECT_EQ(store.rowCount(), 0);
    store.close();
    ASSERT_TRUE(store.open(path, &error));
    EXPECT_EQ(store.cursor(QStringLiteral("mqtt")), 39000);
    EXPECT_EQ(store.lastId(), 40000);
}

TEST(HistoryStore, EveryPayloadComesBackAsPublished)
{
    // A good number keeps no JSON, the others keep theirs without the time.
    const struct {
        std::optional<double> number;
        const char* payload;
    } rows[] = {
        {42, R"({"quality":"good","ts":"2026-12-07T00:00:00.001Z","value":42})"},
        {3000000000.0, R"({"quality":"good","ts":"2026-12-07T00:00:00.002Z","value":3000000000})"},
        {0.10000000149011612, R"({"quality":"good","ts":"2026-12-07T00:00:00.003Z","value":0.10000000149011612})"},
        {1, R"({"quality":"good","ts":"2026-12-07T00:00:00.004Z","value":true})"},
        {std::nullopt, R"({"quality":"good","ts":"2026-12-07T00:00:00.005Z","value":"0x00FF"})"},
        {std::nullopt, R"({"error":"line lost","quality":"bad","ts":"2026-12-07T00:00:00.006Z","value":null})"},
    };
    QTemporaryDir dir;
    HistoryStore store;
    QString error;
    ASSERT_TRUE(store.open(dir.filePath(QStringLiteral("h.db")), &error));
    QVector<HistoryChange> batch;
    for (const auto& row : rows)
        batch.append(HistoryChange{batch.size() + 1, QStringLiteral("press1"), QStringLiteral("speed"),
                                   1796601600000 + batch.size() + 1, !QByteArray(row.payload).contains("bad"),
                                   row.number, row.payload});
    ASSERT_TRUE(store.append(batch, &error)) << error.toStdString();
    const QVector<HistoryChange> kept = store.after(0, 100, -1);
    ASSERT_EQ(kept.size(), batch.size());
    for (int k = 0; k < kept.size(); ++k)
        EXPECT_EQ(kept.at(k).payload, QByteArray(rows[k].payload));
}

// A writer process appends batches of 100 rows and says after each commit
// how far it got; killed with SIGKILL in its stride, the file must open
// whole and hold every row up to the last commit it reported, without a gap.
[[noreturn]] void writeUntilKilled(const QString& path, int report)
{
    HistoryStore store;
    QString error;
    if (!store.open(path, &error))
        _exit(2);
    for (qint64 next = 1;; next += 100) {
        QVector<HistoryChange> batch;
        for (qint64 id = next; id < next + 100; ++id)
            batch.append(HistoryChange{id, QStringLiteral("press1"), QStringLiteral("speed"), T0 + id, true, double(id), "{}"});
        if (!store.append(batch, &error))
            _exit(3);
        const qint64 committed = next + 99;
        if (write(report, &committed, sizeof committed) != sizeof committed)
            _exit(4);
    }
}

TEST(HistoryStore, AWriterKilledMidwayLeavesAWholeFileWithEveryCommittedRow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("h.db"));
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        close(pipeEnds[0]);
        writeUntilKilled(path, pipeEnds[1]);
    }
    close(pipeEnds[1]);
    qint64 reported = 0;
    while (reported < 20000 && read(pipeEnds[0], &reported, sizeof reported) == sizeof reported) {
    }
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    close(pipeEnds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself: " << WEXITSTATUS(status);

    HistoryStore store;
    QString error;
    ASSERT_TRUE(store.open(path, &error)) << error.toStdString();
    EXPECT_EQ(store.integrity(), QStringLiteral("ok"));
    const qint64 rows = store.rowCount();
    EXPECT_GE(rows, reported);
    EXPECT_EQ(rows % 100, 0) << "a batch was kept in part";
    EXPECT_EQ(store.lastId(), rows); // ids 1 to rows: no gap
    const QVector<HistoryChange> last = store.after(rows - 1, rows, 1);
    ASSERT_EQ(last.size(), 1);
    EXPECT_EQ(last.first().tsMs, T0 + rows);
}

} // namespace
