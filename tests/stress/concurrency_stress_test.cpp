// Concurrency stress: three host threads add writes, host writes and
// one-shot reads (one also rebuilds the read list), two more read the image,
// while the communication thread runs the cycle against the in-process
// virtual PLC: with queued writes, image-only writes, and a line that drops,
// corrupts, refuses and truncates replies. Checked: no read sees half a block
// (each block is written whole with one sequence number in every byte), every
// queued item ends with exactly one notice, and the image, the PLC and the
// D_bit word agree at the end. Run under ThreadSanitizer for data races; a
// hang ends the process by an alarm after two minutes.

#include "core/driver_probe.h"
#include "virtual_plc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

constexpr int BlockWords = 8;    // one data block: D(8b) .. D(8b + 7)
constexpr int DataBlocks = 32;   // D0 .. D255; a read block (BlockSize 16) holds two
constexpr int Rounds = 1200;     // per host thread: 75 x 16, an odd multiple of 16
constexpr int FirstBit = 4096;   // D_bit index of D256.0 (16 x 256), just past the data blocks
const QString kD = QStringLiteral("D");

// Notices per queued item, at (HostId - 1) x Rounds + HostSubId, and by status.
std::mutex noticeMutex;
std::vector<int> noticesPerItem;
std::map<qint32, int> noticesByStatus;
void recordNotice(qint32, qint32 hostId, qint32 hostSubId, qint32 status)
{
    std::lock_guard<std::mutex> lock(noticeMutex);
    ++noticesByStatus[status];
    const qint64 item = qint64(hostId - 1) * Rounds + hostSubId;
    if (hostId >= 1 && hostSubId >= 0 && hostSubId < Rounds && item < qint64(noticesPerItem.size()))
        ++noticesPerItem[size_t(item)];
}

bool isUniform(const QByteArray& block) { return block == block.left(2).repeated(BlockWords); }

// The read list: the first `blocks` data blocks from D0, cut into read
// blocks of 16 words so that none is split (block 32 is the D_bit word).
QList<HostVarDef> readList(int blocks)
{
    return {HostVarDef{{}, 0, {}, {}, kD, blocks * BlockWords, 0, 0}}; // in the host's field order
}

VarItem blockItem(qint32 hostId, qint32 hostSubId, int block, const QByteArray& data)
{
    return {hostId, hostSubId, 0, 0, 0, 0, kD, {}, 0, block * BlockWords, 0, BlockWords, 0, 0, data};
}

// Holds a host back while a pending list is long, so that its limit of 1024
// items never drops one: the hosts add at most 9 items between two looks.
template <typename ListSize> void waitForRoom(ListSize listSize)
{
    while (listSize() >= 900)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

struct StressCase {
    const char* name;
    qint32 writeMode;
    double faultRate; // per reply and fault kind
};

class ConcurrencyStress : public ::testing::TestWithParam<StressCase> {};

TEST_P(ConcurrencyStress, NoTornBlocksNoLostNoticesAndTheEndStateAgrees)
{
    const StressCase& c = GetParam();
    FaultOptions faults;
    for (FaultRule& rule : faults.rules) // in process, a delay fault changes nothing
        rule.probability = c.faultRate;
    VirtualPlc plc(VirtualPlcOptions{64, false, faults});
    qint32 comInfo[ComInfoWord::Count] = {};
    comInfo[ComInfoWord::BlockSize] = 16;
    comInfo[ComInfoWord::RetryLimit] = 1; // two failed replies in all give a request up
    comInfo[ComInfoWord::WriteMode] = c.writeMode;
    Tavrin driver;
    const TavrinProbe probe(driver);
    driver.SetComInfo(comInfo);
    noticesPerItem.assign(6 * Rounds, 0);
    noticesByStatus.clear();
    driver.RegistCallBackFuncIntf(recordNotice, 0);
    driver.ReCreatReadVarList(readList(DataBlocks + 1));
    std::atomic<quint32> sequence{1};
    auto nextBlock = [&sequence] { // every byte one sequence number, 1 to 255
        return QByteArray(2 * BlockWords, static_cast<char>(sequence++ % 255 + 1));
    };
    std::atomic<int> tornReads{0};
    std::atomic<bool> hostsDone{false};

    ::alarm(120);
    std::vector<std::thread> hosts;
    for (qint32 host : {1, 2, 3}) {
        hosts.emplace_back([&, host] { // HostIds 1 to 3 write, 4 to 6 read once
            for (int i = 0; i < Rounds; ++i) {
                const int block = (i * 7 + host * 3) % DataBlocks;
                waitForRoom([&] { return probe.writeListSize(); });
                driver.AddListWriteVar(blockItem(host, i, block, nextBlock()));
                driver.SetRegisterData(kD, block * BlockWords, 0, nextBlock(), BlockWords);
                VarItem read = blockItem(host + 3, i, (block + 2) % DataBlocks, QByteArray());
                waitForRoom([&] { return probe.onceReadListSize(); });
                driver.AddListOnceReadVar(read);
                if (host == 1 && i % 8 == 0) // 1 to 33 blocks while the cycle polls
                    driver.ReCreatReadVarList(readList(i * 7 % (DataBlocks + 1) + 1));
                if (host == 2) { // D_bit writes of D256.0 .. D256.15 in turn, on and off
                    const QByteArray on(1, (i / 16 + i % 16) % 2 == 0);
                    driver.SetRegisterData(QStringLiteral("D_bit"), FirstBit + i % 16, 0, on, 1);
                }
            }
        });
    }
    for (int reader = 0; reader < 2; ++reader) {
        hosts.emplace_back([&] { // block reads while the hosts write: never two numbers in one
            QByteArray got;
            for (int i = 0; sequence <= 6 * Rounds; ++i) {
                driver.GetRegisterData(kD, i % DataBlocks * BlockWords, 0, got, BlockWords);
                tornReads += isUniform(got) ? 0 : 1;
            }
        });
    }
    std::thread cycle([&] { // until the hosts are done and the pending lists empty, then
        int finalPass = 2 * (DataBlocks + 2); // polls every read block once more, at least
        while (finalPass > 0) {
            // The read list is never empty, so there is always a frame.
            if (RequestFrame* frame = driver.ComCommunication())
                driver.DataCom(plc.receive(frame->FrameBytes));
            // Once the hosts are done, only this thread changes the pending lists.
            finalPass -= hostsDone && probe.writeListSize() == 0
                         && probe.onceReadListSize() == 0 ? 1 : 0;
        }
    });
    for (std::thread& host : hosts)
        host.join();
    driver.ReCreatReadVarList(readList(DataBlocks + 1));
    hostsDone = true;
    cycle.join();
    ::alarm(0);

    EXPECT_EQ(tornReads, 0);
    EXPECT_EQ(std::count(noticesPerItem.begin(), noticesPerItem.end(), 1), 6 * Rounds);
    EXPECT_EQ(noticesByStatus[CompletionGivenUp] > 0, c.faultRate > 0);
    // CompletionGood, CompletionGivenUp (its key made just above) and no other status.
    EXPECT_EQ(noticesByStatus.size(), 2u);
    QByteArray image;
    for (int block = 0; block < DataBlocks; ++block) {
        const QByteArray inPlc = plc.readBytes(0x1000 + 2 * block * BlockWords, 2 * BlockWords);
        EXPECT_TRUE(isUniform(inPlc)) << "PLC block " << block; // a block write is one frame
        driver.GetRegisterData(kD, block * BlockWords, 0, image, BlockWords);
        EXPECT_TRUE(c.faultRate > 0 || image == inPlc) << "image block " << block;
    }
    if (c.writeMode == WriteModeQueue && c.faultRate == 0) { // the last bits reached PLC and image
        driver.GetRegisterData(kD, FirstBit / 16, 0, image, 1);
        EXPECT_EQ(plc.readBytes(0x1000 + FirstBit / 8, 2), image.left(2));
        // Each bit's last write is in the last round of 16, i / 16 = 74 (even): even bits on.
        EXPECT_EQ(plc.word(0x1000 + FirstBit / 8), 0x5555);
    }
}

INSTANTIATE_TEST_SUITE_P(Stress, ConcurrencyStress,
                         ::testing::Values(StressCase{"QueuedWrites", WriteModeQueue, 0.0},
                                           StressCase{"ImageOnlyWrites", 0, 0.0},
                                           StressCase{"FaultyLine", WriteModeQueue, 0.06}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
