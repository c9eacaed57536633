// The history store's cost: LINES lines of TAGS tags, every tag changing at
// every scan of SCAN_MS, recorded for SECONDS through the gateway's history
// recorder into an SQLite file, as the gateway does. It prints the rows a
// second written, the process's CPU (and, apart, the same changes made
// without recording), its peak memory, and the file's size per million rows.
//
//   tavrin_history_bench [--lines 8] [--tags 300] [--scan-ms 200] [--seconds 20]

#include "history_recorder.h"
#include "json_payloads.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A line of /proc/self/status, such as VmHWM, in MB.
double statusMb(const char* key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    file.open(QIODevice::ReadOnly);
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key)) + 1).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

GatewayConfig plant(int lines, int tags, const QString& path)
{
    GatewayConfig config;
    config.history = HistoryConfig{true, path, 7, 100000};
    for (int l = 0; l < lines; ++l) {
        LineConfig line;
        line.name = QStringLiteral("line%1").arg(l);
        for (int t = 0; t < tags; ++t) {
            TagConfig tag;
            tag.name = QStringLiteral("D%1").arg(t);
            line.tags.append(tag);
        }
        config.lines.append(line);
    }
    return config;
}

// Every tag of every line changes once a scan for `seconds`; `record`
// takes each change. The CPU seconds the process spent meanwhile.
double changeEveryScan(const GatewayConfig& config, int scanMs, int seconds,
                       const std::function<void(int, int, const TagState&)>& record)
{
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    int value = 0;
    for (qint64 scan = 0; clock.elapsed() < seconds * 1000LL; ++scan) {
        ++value;
        for (int l = 0; l < config.lines.size(); ++l) {
            for (int t = 0; t < config.lines.at(l).tags.size(); ++t) {
                TagState state;
                state.quality = Quality::Good;
                state.value = value + t;
                state.at = QDateTime::currentDateTimeUtc();
                record(l, t, state);
            }
        }
        const qint64 next = (scan + 1) * scanMs;
        if (next > clock.elapsed())
            QThread::msleep(ulong(next - clock.elapsed()));
    }
    return cpuSeconds() - cpuBefore;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption lines(QStringLiteral("lines"), QStringLiteral("Lines."), QStringLiteral("n"), QStringLiteral("8"));
    const QCommandLineOption tags(QStringLiteral("tags"), QStringLiteral("Tags a line."), QStringLiteral("n"), QStringLiteral("300"));
    const QCommandLineOption scanMs(QStringLiteral("scan-ms"), QStringLiteral("Scan."), QStringLiteral("ms"), QStringLiteral("200"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Run."), QStringLiteral("s"), QStringLiteral("20"));
    parser.addOptions({lines, tags, scanMs, seconds});
    parser.process(app);
    const int run = parser.value(seconds).toInt();
    const int scan = parser.value(scanMs).toInt();

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    const GatewayConfig config = plant(parser.value(lines).toInt(), parser.value(tags).toInt(), path);
    std::printf("load average before: %s\n", loadAverage().constData());

    // The changes alone, each with its payload made as the MQTT face makes it.
    const double bare = changeEveryScan(config, scan, run, [](int, int, const TagState& state) { (void)tagPayload(state); });

    HistoryCounters counters;
    HistoryRecorder recorder(config, counters);
    QString error;
    if (!recorder.start(&error)) {
        std::fprintf(stderr, "%s\n", error.toUtf8().constData());
        return 1;
    }
    const double recorded = changeEveryScan(config, scan, run, [&](int l, int t, const TagState& state) {
        (void)tagPayload(state);
        recorder.record(l, t, state);
    });
    recorder.stop();
    const qint64 rows = counters.rows;
    const qint64 fileBytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
    std::printf("rows written: %lld (%.0f a second), lost: %lld\n", rows, double(rows) / run, qint64(counters.lost));
    std::printf("CPU of one core: %.1f %% recording, %.1f %% the same changes without, %.1f %% for the store\n",
                100 * recorded / run, 100 * bare / run, 100 * (recorded - bare) / run);
    std::printf("peak resident memory: %.1f MB\n", statusMb("VmHWM:"));
    std::printf("file: %.1f MB, %.1f MB per million rows\n", double(fileBytes) / 1e6, double(fileBytes) / double(rows));
    std::printf("load average after: %s\n", loadAverage().constData());
    return 0;
}
