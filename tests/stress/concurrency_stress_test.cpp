// Concurrency stress: host threads call GetRegisterData, SetRegisterData,
// AddListWriteVar, AddListOnceReadVar and ReCreatReadVarList while the
// communication thread runs the request cycle against the in-process
// virtual PLC. Run it under ThreadSanitizer (scripts/test-sanitizers.sh)
// to find data races; every run checks:
// - no deadlock: a watchdog aborts the run, naming its phase, when it has
//   not finished in time;
// - every queued write and one-shot read ends with exactly one completion
//   notice;
// - no reader ever sees half a block: data blocks are written whole with
//   one sequence number in every word, through the PLC and back by cyclic
//   reads, and by image-only SetRegisterData; every GetRegisterData of a
//   block must see one number;
// - after the run, the image, the PLC and the last values written agree.
// Bounded in operations: a few seconds normally, well under a minute under
// ThreadSanitizer.

#include "core/driver_object.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int BlockWords = 8;         // one data block: D(8b) .. D(8b + 7)
constexpr int DataBlocks = 32;        // D0 .. D255
constexpr int BlockSizeWords = 16;    // ComInfo BlockSize: a read block holds two data blocks
constexpr int BitWord = 1000;         // D_bit writes go to D1000 (outside the data blocks)
constexpr int FirstForcedM = 100;     // forces go to M100 .. M115
constexpr int ForcedBits = 16;
constexpr auto WatchdogLimit = std::chrono::seconds(90);

// Fails the run when it has not finished in time: a deadlock or a livelock
// shows as a hang, which this turns into an abort naming the phase.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!wake_.wait_for(lock, WatchdogLimit, [this] { return finished_; })) {
                  std::fprintf(stderr, "watchdog: the stress run hangs in phase '%s'\n",
                               phase.load());
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    std::atomic<const char*> phase{"starting"};

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool finished_ = false;
    std::thread thread_;
};

// Completion notices by (HostId, HostSubId). The callback runs with the
// driver's list lock held; it takes only this recorder's own lock.
struct CompletionRecorder {
    std::mutex mutex;
    std::map<std::pair<qint32, qint32>, std::vector<qint32>> statuses;
};
CompletionRecorder* recorder = nullptr;

void recordCompletion(qint32, qint32 hostId, qint32 hostSubId, qint32 status)
{
    std::lock_guard<std::mutex> lock(recorder->mutex);
    recorder->statuses[{hostId, hostSubId}].push_back(status);
}

QByteArray uniformBlock(quint16 sequence)
{
    QByteArray bytes;
    for (int w = 0; w < BlockWords; ++w) {
        bytes.append(static_cast<char>(sequence & 0xFF));
        bytes.append(static_cast<char>(sequence >> 8));
    }
    return bytes;
}

bool isUniform(const QByteArray& bytes)
{
    for (int i = 2; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] != bytes[0] || bytes[i + 1] != bytes[1])
            return false;
    }
    return true;
}

// An item the host queues itself, with its own identification.
VarItem dataBlockItem(qint32 hostId, qint32 hostSubId, int block, qint32 opKind,
                      const QByteArray& data)
{
    VarItem item;
    item.HostId = hostId;
    item.HostSubId = hostSubId;
    item.OpKind = opKind;
    item.RegName = QStringLiteral("D");
    item.Addr = block * BlockWords;
    item.Count = BlockWords;
    item.Data = data;
    return item;
}

HostVarDef hostVar(const char* name, qint32 addr, qint32 length)
{
    HostVarDef var;
    var.RegName = QString::fromLatin1(name);
    var.AddrText = QString::number(addr);
    var.Addr = addr;
    var.Length = length;
    return var;
}

// The host's variables: the data blocks whose bit is set in `mask`, the
// D_bit word and the forced M bits. Blocks made of whole data blocks keep
// every data block inside one read request.
QList<HostVarDef> hostVariables(quint32 mask)
{
    QList<HostVarDef> vars;
    for (int block = 0; block < DataBlocks; ++block) {
        if (mask & (1u << block))
            vars.append(hostVar("D", block * BlockWords, BlockWords));
    }
    vars.append(hostVar("D", BitWord, 1));
    vars.append(hostVar("M", FirstForcedM, ForcedBits));
    return vars;
}

struct Options {
    qint32 writeMode = WriteModeQueue;
    qint32 retryLimit = 3;
    FaultOptions faults;
    int writesPerThread = 4000;
    int setsPerThread = 4000;
    int onceReads = 3000;
    int readsPerThread = 20000;
    int rebuilds = 300;
};

// One stress run: the driver, its PLC, the host threads and the cycle.
class StressRun {
public:
    explicit StressRun(const Options& options) : options_(options), plc_(plcOptions(options))
    {
        comInfo_[ComInfoWord::BlockSize] = BlockSizeWords;
        comInfo_[ComInfoWord::RetryLimit] = options.retryLimit;
        comInfo_[ComInfoWord::WriteMode] = options.writeMode;
        comInfo_[ComInfoWord::CallbackTag] = 77;
        driver_.SetComInfo(comInfo_);
        recorder = &completions_;
        driver_.RegistCallBackFuncIntf(recordCompletion, 0);
        driver_.ReCreatReadVarList(hostVariables(0xFFFFFFFFu));
    }
    ~StressRun() { recorder = nullptr; }

    void run()
    {
        Watchdog watchdog;
        watchdog.phase = "host threads and cycle";
        std::thread cycle([this] { runCycle(); });
        std::vector<std::thread> hosts;
        for (int t = 0; t < 2; ++t) {
            hosts.emplace_back([this, t] { queueWrites(t); });
            hosts.emplace_back([this, t] { readBlocks(t); });
        }
        hosts.emplace_back([this] { setValues(); });
        hosts.emplace_back([this] { queueOnceReads(); });
        hosts.emplace_back([this] { rebuildReadList(); });
        for (std::thread& host : hosts)
            host.join();
        watchdog.phase = "draining the lists";
        hostsDone_ = true;
        cycle.join();
        watchdog.phase = "final read pass";
        finalReadPass();
    }

    // --- Results
    int halfBlocksSeen() const { return halfBlocks_; }
    int blockReads() const { return blockReads_; }
    const std::map<std::pair<qint32, qint32>, qint32>& queued() const { return queued_; }
    const CompletionRecorder& completions() const { return completions_; }
    Tavrin& driver() { return driver_; }
    VirtualPlc& plc() { return plc_; }
    quint16 lastBitWordValue() const { return lastBitWord_; }
    quint16 lastForcedBits() const { return lastForced_; }
    QByteArray firstHalfBlock() const { return firstHalfBlock_.toHex(' '); }

private:
    static VirtualPlcOptions plcOptions(const Options& options)
    {
        VirtualPlcOptions plc;
        plc.faults = options.faults;
        return plc;
    }

    // The communication thread: ComCommunication, the PLC, DataCom, until
    // the hosts are done and every queued item has ended.
    void runCycle()
    {
        for (;;) {
            if (RequestFrame* frame = driver_.ComCommunication()) {
                QByteArray reply = plc_.receive(frame->FrameBytes);
                driver_.DataCom(reply);
            } else {
                std::this_thread::yield();
            }
            if (hostsDone_ && nothingPending())
                return;
        }
    }

    bool nothingPending()
    {
        if (!driver_.FrameQueue.isEmpty())
            return false;
        QMutexLocker lock(&driver_.ListMutex);
        return driver_.WriteVarList.isEmpty() && driver_.OnceReadVarList.isEmpty();
    }

    // Holds a host back while a pending list is long, so that no item is
    // ever dropped by the 1024 limit: with three producers adding at most
    // three items between two looks, the list stays below 900 + 9. (The
    // size AddListWriteVar returns cannot tell a drop: it is read after the
    // append and may already count items the cycle removed.)
    void waitForRoom(const VarItemList& list)
    {
        for (;;) {
            {
                QMutexLocker lock(&driver_.ListMutex);
                if (list.size() < 900)
                    return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    quint16 nextSequence()
    {
        quint16 s;
        do
            s = static_cast<quint16>(sequence_.fetch_add(1) & 0xFFFF);
        while (s == 0);
        return s;
    }

    void note(std::pair<qint32, qint32> id, qint32 listSize)
    {
        std::lock_guard<std::mutex> lock(queuedMutex_);
        queued_[id] = listSize;
    }

    // Writes of whole data blocks through AddListWriteVar, each with its
    // own HostId/HostSubId so that its completion notice can be matched.
    void queueWrites(int thread)
    {
        const qint32 hostId = 1 + thread;
        for (int i = 0; i < options_.writesPerThread; ++i) {
            const int block = (i * 7 + thread * 3) % DataBlocks;
            const VarItem item =
                dataBlockItem(hostId, i, block, OpKindWrite, uniformBlock(nextSequence()));
            waitForRoom(driver_.WriteVarList);
            note({hostId, i}, driver_.AddListWriteVar(item));
        }
    }

    // SetRegisterData: whole data blocks, plus D_bit and force writes in
    // queue mode; each value written is remembered as the last one.
    void setValues()
    {
        for (int i = 0; i < options_.setsPerThread; ++i) {
            const int block = (i * 5 + 1) % DataBlocks;
            waitForRoom(driver_.WriteVarList);
            driver_.SetRegisterData(QStringLiteral("D"), block * BlockWords, 0,
                                    uniformBlock(nextSequence()), BlockWords);
            if (options_.writeMode != WriteModeQueue)
                continue;
            const int bit = i % 16;
            const bool on = (i / 16) % 2 == 0;
            driver_.SetRegisterData(QStringLiteral("D_bit"), BitWord * 16 + bit, 0,
                                    QByteArray(1, on ? 1 : 0), 1);
            driver_.SetRegisterData(QStringLiteral("M"), FirstForcedM + bit, 0,
                                    QByteArray(1, on ? 1 : 0), 1);
            const quint16 mask = static_cast<quint16>(1u << bit);
            lastBitWord_ = on ? (lastBitWord_ | mask) : (lastBitWord_ & ~mask);
            lastForced_ = on ? (lastForced_ | mask) : (lastForced_ & ~mask);
        }
    }

    void queueOnceReads()
    {
        const qint32 hostId = 20;
        for (int i = 0; i < options_.onceReads; ++i) {
            VarItem item = dataBlockItem(hostId, i, (i * 3) % DataBlocks, OpKindRead, QByteArray());
            waitForRoom(driver_.OnceReadVarList);
            note({hostId, i}, driver_.AddListOnceReadVar(item));
        }
    }

    void readBlocks(int thread)
    {
        QByteArray values;
        for (int i = 0; i < options_.readsPerThread; ++i) {
            const int block = (i + thread * 11) % DataBlocks;
            driver_.GetRegisterData(QStringLiteral("D"), block * BlockWords, 0, values, BlockWords);
            ++blockReads_;
            if (values.size() != 2 * BlockWords || !isUniform(values)) {
                if (halfBlocks_++ == 0)
                    firstHalfBlock_ = values;
            }
        }
    }

    // Replaces the read list with different subsets of the data blocks
    // while the cycle polls it.
    void rebuildReadList()
    {
        for (int i = 0; i < options_.rebuilds; ++i) {
            const quint32 mask = i % 3 == 0 ? 0xFFFFFFFFu : 0x9E3779B9u * static_cast<quint32>(i + 1);
            driver_.ReCreatReadVarList(hostVariables(mask));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        driver_.ReCreatReadVarList(hostVariables(0xFFFFFFFFu));
    }

    // Polls every block of the read list once more, so that the image
    // shows what the PLC holds.
    void finalReadPass()
    {
        const int passes = 2 * (DataBlocks + 2);
        for (int i = 0; i < passes; ++i) {
            RequestFrame* frame = driver_.ComCommunication();
            ASSERT_NE(frame, nullptr);
            QByteArray reply = plc_.receive(frame->FrameBytes);
            driver_.DataCom(reply);
        }
    }

    Options options_;
    Tavrin driver_;
    qint32 comInfo_[ComInfoWord::Count] = {};
    VirtualPlc plc_;
    CompletionRecorder completions_;
    std::atomic<bool> hostsDone_{false};
    std::atomic<quint32> sequence_{1};
    std::atomic<int> halfBlocks_{0};
    std::atomic<int> blockReads_{0};
    QByteArray firstHalfBlock_;
    std::mutex queuedMutex_;
    std::map<std::pair<qint32, qint32>, qint32> queued_;
    quint16 lastBitWord_ = 0;
    quint16 lastForced_ = 0;
};

// Every item queued ended with exactly one notice (the hosts wait for room,
// so the 1024 limit never drops one). No notice came for an item nobody
// queued, and none carried an unexpected status.
void expectOneNoticePerQueuedItem(const StressRun& run, bool faults)
{
    const auto& notices = run.completions().statuses;
    for (const auto& [id, listSize] : run.queued()) {
        EXPECT_LT(listSize, PendingListLimit);
        const auto found = notices.find(id);
        const size_t count = found == notices.end() ? 0 : found->second.size();
        EXPECT_EQ(count, 1u) << "HostId " << id.first << " HostSubId " << id.second;
    }
    for (const auto& [id, statuses] : notices) {
        const bool setRegisterDataItem = id.first == 0 && id.second == -1;
        EXPECT_TRUE(setRegisterDataItem || run.queued().count(id))
            << "notice for HostId " << id.first << " HostSubId " << id.second;
        for (qint32 status : statuses) {
            if (faults)
                EXPECT_TRUE(status == CompletionGood || status == CompletionGivenUp) << status;
            else
                EXPECT_EQ(status, CompletionGood);
        }
    }
}

void expectImageMatchesPlc(StressRun& run)
{
    QByteArray values;
    for (int block = 0; block < DataBlocks; ++block) {
        run.driver().GetRegisterData(QStringLiteral("D"), block * BlockWords, 0, values, BlockWords);
        for (int w = 0; w < BlockWords; ++w) {
            const qint32 index = block * BlockWords + w;
            const quint16 image = static_cast<quint16>(static_cast<quint8>(values[2 * w])
                                                       | static_cast<quint8>(values[2 * w + 1]) << 8);
            EXPECT_EQ(image, run.plc().value(QStringLiteral("D"), index).value_or(0xFFFFFFFF))
                << "D" << index;
        }
    }
}

TEST(ConcurrencyStress, QueuedWritesReadsAndRebuildsAgainstTheVirtualPlc)
{
    StressRun run(Options{});
    run.run();
    EXPECT_EQ(run.halfBlocksSeen(), 0)
        << "of " << run.blockReads() << " block reads; first: " << run.firstHalfBlock().constData();
    expectOneNoticePerQueuedItem(run, false);
    expectImageMatchesPlc(run);
    // The last values written in queue mode reached the PLC and came back.
    EXPECT_EQ(run.plc().value(QStringLiteral("D"), BitWord).value_or(0xFFFFFFFF),
              run.lastBitWordValue());
    QByteArray bits;
    run.driver().GetRegisterData(QStringLiteral("M"), FirstForcedM, 0, bits, ForcedBits);
    for (int b = 0; b < ForcedBits; ++b) {
        const int expected = (run.lastForcedBits() >> b) & 1;
        EXPECT_EQ(bits.at(b), expected) << "image M" << FirstForcedM + b;
        EXPECT_EQ(run.plc().value(QStringLiteral("M"), FirstForcedM + b).value_or(2),
                  static_cast<quint32>(expected))
            << "PLC M" << FirstForcedM + b;
    }
}

TEST(ConcurrencyStress, ImageOnlyWritesNeverMixWithDecodedReplies)
{
    Options options;
    options.writeMode = 0; // SetRegisterData changes the image alone
    options.writesPerThread = 1500;
    options.onceReads = 1000;
    StressRun run(options);
    run.run();
    EXPECT_EQ(run.halfBlocksSeen(), 0)
        << "of " << run.blockReads() << " block reads; first: " << run.firstHalfBlock().constData();
    expectOneNoticePerQueuedItem(run, false);
}

TEST(ConcurrencyStress, LineFaultsGiveUpRequestsButNeverLoseANotice)
{
    Options options;
    options.retryLimit = 1;
    options.writesPerThread = 2000;
    options.setsPerThread = 2000;
    options.onceReads = 1500;
    options.faults.seed = 20240611;
    options.faults.rule(FaultKind::Drop).probability = 0.08;
    options.faults.rule(FaultKind::Corrupt).probability = 0.08;
    options.faults.rule(FaultKind::Nak).probability = 0.04;
    options.faults.rule(FaultKind::Truncate).probability = 0.04;
    StressRun run(options);
    run.run();
    EXPECT_EQ(run.halfBlocksSeen(), 0)
        << "of " << run.blockReads() << " block reads; first: " << run.firstHalfBlock().constData();
    expectOneNoticePerQueuedItem(run, true);
    // A block write is one frame: the PLC holds every data block whole.
    for (int block = 0; block < DataBlocks; ++block) {
        const QByteArray bytes = run.plc().readBytes(0x1000 + 2 * block * BlockWords, 2 * BlockWords);
        EXPECT_TRUE(isUniform(bytes)) << "PLC block " << block;
    }
}

} // namespace
