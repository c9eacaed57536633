// The runtime core on a fake clock, whatever the PLC's delay, jitter, loss
// or freeze: values and write outcomes agree with PLC memory.

#include "fake_line.h"
#include "request_decoder.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace {

constexpr qint64 Ms = 1000;
constexpr qint64 S = 1000000;

LineSettings settings9600()
{
    LineSettings settings;
    settings.baud = 9600;
    settings.retries = 3;
    return settings;
}

quint16 heldWord(const LineCore& core, const VariableAddress& variable, int k)
{
    const QByteArray bytes = core.values(variable);
    return qFromLittleEndian<quint16>(bytes.constData() + 2 * k);
}

// D0..D9 and D150..D159: two blocks of one length whose answers only their
// pairing tells apart.
struct PairingCase {
    const char* name;
    std::function<qint64(int)> delayUs;
    qint64 learnWithinUs; // both blocks good by then; 0: no such promise
};

class Pairing : public ::testing::TestWithParam<PairingCase> {};

TEST_P(Pairing, NoValueShownGoodIsAnotherRegisters)
{
    PlcPace pace;
    pace.delayUs = GetParam().delayUs;
    FakeLine line(settings9600(), pace);
    for (int k = 0; k < 10; ++k) {
        line.plc.setValue(QStringLiteral("D"), k, 1000 + k);
        line.plc.setValue(QStringLiteral("D"), 150 + k, 1150 + k);
    }
    const QList<VariableAddress> polled{variable(QStringLiteral("D0"), 10), variable(QStringLiteral("D150"), 10)};
    line.core.setPolled(polled, false, line.now);
    int wrong = 0;
    qint64 bothGoodAt = -1;
    for (qint64 step = 0; step < 600; ++step) {
        line.runFor(100 * Ms);
        bool bothGood = true;
        for (int v = 0; v < 2; ++v) {
            if (line.core.quality(v).quality != Quality::Good) {
                bothGood = false;
                continue;
            }
            for (int k = 0; k < 10; ++k)
                wrong += heldWord(line.core, polled.at(v), k) != (v == 0 ? 1000 : 1150) + k;
        }
        if (bothGood && bothGoodAt < 0)
            bothGoodAt = line.now;
    }
    EXPECT_EQ(wrong, 0);
    if (GetParam().learnWithinUs > 0) {
        EXPECT_GE(bothGoodAt, 0) << "never both good";
        EXPECT_LE(bothGoodAt, GetParam().learnWithinUs);
        EXPECT_EQ(line.core.health().state, LineState::Up);
    }
}

// The timeout of a 10-word read at 9600 baud is 11 + 44 characters (57 ms)
// plus the 200 ms allowance: 258 ms.
const PairingCase pairingCases[] = {
    {"Prompt", [](int) { return 2 * Ms; }, 1 * S},
    {"OneMillisecondPastTheTimeout", [](int) { return 220 * Ms; }, 10 * S},
    {"LateBy600ms", [](int) { return 600 * Ms; }, 10 * S},
    {"LateBy2s", [](int) { return 2 * S; }, 30 * S},
    {"LateBy5s", [](int) { return 5 * S; }, 60 * S},
    {"JitterUpTo900ms", [](int n) { return qint64((n * 7919) % 900) * Ms; }, 20 * S},
    {"EveryThirdLateBy400ms", [](int n) { return n % 3 == 2 ? 400 * Ms : 2 * Ms; }, 10 * S},
};
INSTANTIATE_TEST_SUITE_P(Delays, Pairing, ::testing::ValuesIn(pairingCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LineSilence, EveryVariableBadWithinTwoSecondsAndGoodAgainAfter)
{
    PlcPace pace;
    pace.frozenFromUs = 20 * S;
    pace.frozenUntilUs = 30 * S;
    FakeLine line(settings9600(), pace);
    QList<VariableAddress> polled; // a scan takes about 12 s at 9600 baud
    for (int k = 0; k < 300; ++k)
        polled.append(variable(QStringLiteral("D%1").arg(k * 20)));
    line.core.setPolled(polled, false, line.now);
    line.runFor(20 * S);
    ASSERT_TRUE(line.core.allSettled());
    line.runFor(2 * S);
    EXPECT_EQ(line.core.health().state, LineState::NotAnswering);
    for (int i = 0; i < polled.size(); ++i)
        ASSERT_EQ(line.core.quality(i).quality, Quality::Bad) << i;
    line.runFor(30 * S);
    EXPECT_EQ(line.core.health().state, LineState::Up);
    int good = 0;
    for (int i = 0; i < polled.size(); ++i)
        good += line.core.quality(i).quality == Quality::Good;
    EXPECT_EQ(good, polled.size());
}

TEST(LineSilence, ALostReplyMarksItsBlockAloneWithoutTakingTheLineDown)
{
    VirtualPlcOptions options;
    options.faults.rule(FaultKind::Drop).every = 7;
    FakeLine line(settings9600(), PlcPace(), true, options);
    line.core.setPolled({variable(QStringLiteral("D0"), 4), variable(QStringLiteral("M0"), 8)}, false, line.now);
    bool wentDown = false;
    for (int step = 0; step < 200; ++step) {
        line.runFor(50 * Ms);
        wentDown = wentDown || line.core.health().state != LineState::Up;
    }
    EXPECT_FALSE(wentDown);
    EXPECT_GT(line.core.statistics().probes, 0);
}

// D40 = 777 on a PLC that loses the ACK, freezes, or freezes behind a
// device server that keeps the bytes and delivers them when it wakes.
struct WriteCase {
    const char* name;
    PlcPace pace;
    int dropAcks;      // the PLC writes, but its ACKs of the first n writes are lost
    bool written;      // what PLC memory holds in the end
};

class WriteOutcome : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteOutcome, AgreesWithPlcMemory)
{
    FakeLine line(settings9600(), GetParam().pace);
    line.runFor(1 * S);
    line.plc.queueFault(FaultKind::Drop, GetParam().dropAcks);
    const RequestId id = line.core.queueWrite(variable(QStringLiteral("D40")), QByteArray("\x09\x03", 2));
    const RequestOutcome outcome = line.outcome(id);
    ASSERT_TRUE(outcome.finished);
    line.runFor(30 * S); // nothing may land later
    const bool inPlc = line.plc.value(QStringLiteral("D"), 40) == 777u;
    EXPECT_EQ(inPlc, GetParam().written);
    EXPECT_EQ(outcome.good, inPlc) << outcome.error.toStdString();
    EXPECT_FALSE(outcome.unconfirmed);
}

PlcPace frozen(qint64 untilUs, bool hold)
{
    PlcPace pace;
    pace.frozenFromUs = 1 * S;
    pace.frozenUntilUs = untilUs;
    pace.holdWhileFrozen = hold;
    return pace;
}

const WriteCase writeCases[] = {
    {"GoodLine", PlcPace(), 0, true},
    {"AckLostOnce", PlcPace(), 1, true},
    {"EveryAckLost", PlcPace(), 20, true},
    {"FrozenPlcHearsNothing", frozen(20 * S, false), 0, false},
    {"FrozenBehindADeviceServer", frozen(6 * S, true), 0, true},
};
INSTANTIATE_TEST_SUITE_P(Lines, WriteOutcome, ::testing::ValuesIn(writeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Five words with a block size of three: D20-D22, then D23-D24. When the
// PLC refuses the first block the second never goes: sent, it would leave
// half a recipe reported as failed.
struct PartsCase {
    const char* name;
    int byteLimit; // the PLC refuses larger blocks
    FaultKind fault;
    int faultEvery; // 0: none
    bool good;
    int blockWrites; // acknowledged; -1 where resends after lost or late ACKs add some
};

class WriteParts : public ::testing::TestWithParam<PartsCase> {};

TEST_P(WriteParts, GoInOrderAndEndAtTheFirstFailure)
{
    LineSettings settings = settings9600();
    settings.blockSize = 3;
    settings.retries = 10;
    VirtualPlcOptions options;
    options.byteLimit = GetParam().byteLimit;
    options.faults.rule(GetParam().fault).every = GetParam().faultEvery;
    options.faults.delayUs = 600 * Ms; // past the timeout
    FakeLine line(settings, PlcPace(), true, options);
    for (int k = 20; k < 26; ++k)
        line.plc.setValue(QStringLiteral("D"), k, 0x5A00 + k);
    const RequestOutcome outcome = line.outcome(line.core.queueWrite(variable(QStringLiteral("D20"), 5),
                                                                     QByteArray::fromHex("0a0014001e0028003200")));
    EXPECT_EQ(outcome.good, GetParam().good) << outcome.error.toStdString();
    line.runFor(10 * S); // nothing lands later
    for (int k = 20; k < 26; ++k)
        EXPECT_EQ(line.plc.value(QStringLiteral("D"), k), GetParam().good && k < 25 ? 10u * (k - 19) : 0x5A00u + k) << k;
    if (GetParam().blockWrites >= 0) {
        EXPECT_EQ(line.plc.counters().writes, quint64(GetParam().blockWrites));
    }
}

const PartsCase partsCases[] = {
    {"GoodLine", 64, FaultKind::Drop, 0, true, 2},
    {"EveryThirdReplyLost", 64, FaultKind::Drop, 3, true, -1},
    {"EveryFourthReplyLate", 64, FaultKind::Delay, 4, true, -1},
    {"FirstBlockRefused", 4, FaultKind::Drop, 0, false, 0},
};
INSTANTIATE_TEST_SUITE_P(Lines, WriteParts, ::testing::ValuesIn(partsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A late PLC that refuses 4-byte writes: a refused counter write never
// borrows the late ACK of the write before it.
TEST(LateReplies, ARefusedWriteNeverBorrowsTheLateAckBeforeIt)
{
    VirtualPlcOptions options;
    options.byteLimit = 2;
    PlcPace late;
    late.delayUs = [](int) { return 600 * Ms; };
    FakeLine line(settings9600(), late, true, options);
    const char* const names[] = {"D20", "32CV201", "D21", "32CV202", "D22"};
    for (int k = 0; k < 5; ++k) {
        const bool counter = k % 2;
        const RequestOutcome outcome = line.outcome(line.core.queueWrite(
            variable(QLatin1String(names[k])), QByteArray(1, char(k + 1)) + QByteArray(counter ? 3 : 1, '\0')));
        const quint32 held = line.plc.value(counter ? QStringLiteral("32CV") : QStringLiteral("D"), counter ? k / 2 + 1 : 20 + k / 2).value_or(0);
        EXPECT_EQ(outcome.good, !counter) << names[k] << ": " << outcome.error.toStdString();
        EXPECT_EQ(held == quint32(k + 1), !counter) << names[k];
    }
}

struct StartCase {
    const char* name;
    qint64 delayUs; // < 0: no PLC
    bool starts;
    const char* says;
};

class Start : public ::testing::TestWithParam<StartCase> {};

TEST_P(Start, AProbeThatIsAnsweredLateStillFindsThePlc)
{
    PlcPace pace;
    pace.delayUs = [d = GetParam().delayUs](int) { return d; };
    if (GetParam().delayUs < 0) {
        pace.frozenFromUs = 0;
        pace.frozenUntilUs = 1000 * S;
    }
    FakeLine line(settings9600(), pace, false);
    line.runFor(30 * S, [&] { return line.core.startState() != LineCore::StartState::Opening; });
    EXPECT_EQ(line.core.startState() == LineCore::StartState::Up, GetParam().starts);
    QString said = line.core.startError();
    for (const LineEvent& event : line.core.takeEvents().lineEvents)
        said += event.text;
    EXPECT_TRUE(said.contains(QLatin1String(GetParam().says))) << said.toStdString();
}

const StartCase startCases[] = {
    {"Prompt", 2 * Ms, true, ""},
    {"AnswersIn600ms", 600 * Ms, true, "the PLC answers in about 6"},
    {"NoPlc", -1, false, "no PLC answers"},
};
INSTANTIATE_TEST_SUITE_P(Plcs, Start, ::testing::ValuesIn(startCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A PLC that takes 8 bytes at the most: D40:4 fits, D50:5 does not.
class RefusedBlock : public ::testing::TestWithParam<ReadPlanning> {};

TEST_P(RefusedBlock, IsSplitUntilTheVariableAtFaultIsFound)
{
    LineSettings settings = settings9600();
    settings.planning = GetParam();
    VirtualPlcOptions options;
    options.byteLimit = 8;
    FakeLine line(settings, PlcPace(), true, options);
    line.plc.setValue(QStringLiteral("D"), 43, 4343);
    const qint64 probes = line.core.statistics().probes;
    line.core.setPolled({variable(QStringLiteral("D40"), 4), variable(QStringLiteral("D50"), 5)}, false, line.now);
    line.runFor(5 * S);
    EXPECT_EQ(line.core.statistics().probes, probes); // a NAK is the whole answer: the line stays in step
    EXPECT_EQ(line.core.quality(0).quality, Quality::Good);
    EXPECT_EQ(heldWord(line.core, variable(QStringLiteral("D40"), 4), 3), 4343);
    EXPECT_EQ(line.core.quality(1).quality, Quality::Bad);
    EXPECT_EQ(line.core.quality(1).error, QStringLiteral("the PLC refused the request (NAK)"));
}

INSTANTIATE_TEST_SUITE_P(Planners, RefusedBlock, ::testing::Values(ReadPlanning::Cost, ReadPlanning::Module),
                         [](const auto& info) { return info.param == ReadPlanning::Cost ? "Cost" : "Module"; });

// What stopping gives up is not the line's doing: no give-up is counted.
TEST(StopLine, GivesUpWhatWaitsWithoutCountingItAgainstTheLine)
{
    FakeLine line(settings9600());
    line.core.setPolled({variable(QStringLiteral("D0"), 4)}, false, line.now);
    line.runFor(1 * S);
    const RequestId write = line.core.queueWrite(variable(QStringLiteral("D9")), QByteArray("\x01\x00", 2));
    line.core.advance(line.now); // a frame on the line, the write waiting
    line.core.shutDown(line.now);
    EXPECT_EQ(line.core.statistics().giveUps, 0);
    const std::optional<RequestOutcome> outcome = line.core.takeOutcome(write);
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->good);
    EXPECT_FALSE(outcome->unconfirmed); // never sent: not written, proven
}

// D0 and D20: the 19 words between them cost 76 characters; a frame of its
// own costs 15 and one turnaround. At 115200 baud a character takes 87 us:
// 2 ms of answer delay is 23 characters (two blocks), 10 ms is 115 (one).
// The plan follows the turnaround the core measures, or the one the user fixed.
struct PlanCase {
    const char* name;
    qint32 baud;
    qint64 delayUs;   // the PLC's answer delay
    int turnaroundMs; // fixed by the user; < 0: measured
    ReadPlanning planning;
    int blocksAtStart;
    int firstReadBytes; // once the plan settled: 42 is D0 to D20
};

class Planning : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Planning, FollowsTheTurnaroundOnTheLineOrTheUsersChoice)
{
    LineSettings settings;
    settings.baud = GetParam().baud;
    settings.probe = false; // a probe would measure the turnaround before the first plan
    settings.turnaroundMs = GetParam().turnaroundMs;
    settings.planning = GetParam().planning;
    PlcPace pace;
    pace.delayUs = [d = GetParam().delayUs](int) { return d; };
    FakeLine line(settings, pace);
    EXPECT_EQ(line.core.setPolled({variable(QStringLiteral("D0")), variable(QStringLiteral("D20"))}, false, line.now),
              GetParam().blocksAtStart);
    line.runFor(30 * S);
    EXPECT_GE(line.core.statistics().turnaroundUs, GetParam().delayUs * 9 / 10);
    const int from = line.sent.size();
    line.runFor(1 * S);
    ASSERT_GT(line.sent.size(), from);
    EXPECT_EQ(decodeRequest(line.sent.at(from)).byteCount, GetParam().firstReadBytes);
}

const PlanCase planCases[] = {
    {"APromptPlcKeepsTwoBlocks", 115200, 2000, -1, ReadPlanning::Cost, 2, 2},
    {"AMeasuredTurnaroundOf10msJoinsThem", 115200, 10000, -1, ReadPlanning::Cost, 2, 42},
    {"AFixedTurnaroundJoinsThemFromTheStart", 9600, 2000, 100, ReadPlanning::Cost, 1, 42},
    // D0 to D20 is 21 words, more than a block of 16: two blocks.
    {"TheModulesRule", 115200, 10000, -1, ReadPlanning::Module, 2, 2},
};
INSTANTIATE_TEST_SUITE_P(Lines, Planning, ::testing::ValuesIn(planCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
