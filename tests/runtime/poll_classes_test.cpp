// Poll classes on the fake line, their periods read off the frames: earliest
// deadline first, and an overbooked line stretches every period alike.

#include "fake_line.h"
#include "request_decoder.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

constexpr qint64 Ms = 1000;
constexpr qint64 S = 1000000;
// The programming port's byte address of D0; Dn lies 2n bytes further.
constexpr qint64 D0Address = 0x1000;

struct Group {
    int first;       // D register
    int words;
    int everyMs;     // 0: as fast as the line allows
    bool singles;    // one variable a word, else one variable of all the words
    double periodMs; // expected: mean time between reads of the group's first word; 0: not checked
    double maxGapMs; // expected: longest such time; 0: not checked
};

// At 9600 baud a read of n words costs 15 + 4n characters of 1.0417 ms, and
// the fake PLC answers 2 ms after the request: D0:20 101 ms, D0:30 143 ms,
// a 32-word block of singles 151 ms, D2000:10 59 ms.
struct ClassCase {
    const char* name;
    QVector<Group> groups;
    double stretch; // 0: the line carries what is asked
};

const ClassCase classCases[] = {
    // 0.5 s a second for D0:20; the 280 words take the rest. The fast block
    // waits at most for one 151 ms block of them.
    {"FastBesideTheRest",
     {{0, 20, 200, false, 200, 200 + 152}, {2000, 280, 0, true, 0, 0}},
     0},
    // The slow pass (9 blocks, 1.36 s) is due in 10 s: the fast block goes
    // between its blocks, earliest deadline first.
    {"FastBesideSlow",
     {{0, 20, 200, false, 200, 200 + 152}, {2000, 280, 10000, true, 10000, 0}},
     0},
    // 143 / 100 + 143 / 200 = 2.14 s a second: both periods 2.14 times longer.
    {"OverbookedStretchesEvery",
     {{0, 30, 100, false, 214, 0}, {1000, 30, 200, false, 428, 0}},
     2.14},
    // The same with a class without a period: a tenth of the line is kept
    // for it, so 2.14 / 0.9 = 2.38, and its 59 ms block comes at least every
    // 590 ms (more often where a timed pass ends between releases).
    {"OverbookedKeepsTheUntimedClass",
     {{0, 30, 100, false, 238, 0}, {1000, 30, 200, false, 475, 0}, {2000, 10, 0, false, 0, 594 + 143}},
     2.38},
};

class PollClasses : public ::testing::TestWithParam<ClassCase> {};

TEST_P(PollClasses, EachClassComesRoundAtItsPeriod)
{
    LineSettings settings;
    settings.baud = 9600;
    settings.turnaroundMs = 2; // priced as the fake PLC answers
    FakeLine line(settings);
    QList<VariableAddress> polled;
    QVector<int> everyMs;
    for (const Group& group : GetParam().groups) {
        for (int k = 0; k < (group.singles ? group.words : 1); ++k) {
            polled.append(variable(QStringLiteral("D%1").arg(group.first + k), group.singles ? 1 : group.words));
            everyMs.append(group.everyMs);
        }
    }
    line.core.setPolled(polled, false, line.now, everyMs);
    const int from = line.sent.size();
    line.runFor(60 * S);

    for (const Group& group : GetParam().groups) {
        QVector<qint64> readAt;
        for (int i = from; i < line.sent.size(); ++i) {
            const DecodedRequest request = decodeRequest(line.sent.at(i));
            if (request.kind == DecodedRequest::Kind::BlockRead && request.address == D0Address + 2 * group.first)
                readAt.append(line.sentAt.at(i));
        }
        ASSERT_GE(readAt.size(), 3) << "D" << group.first << " starved";
        qint64 longest = 0;
        for (int k = 1; k < readAt.size(); ++k)
            longest = std::max(longest, readAt.at(k) - readAt.at(k - 1));
        const double meanMs = double(readAt.last() - readAt.first()) / (readAt.size() - 1) / Ms;
        if (group.periodMs > 0) {
            EXPECT_NEAR(meanMs, group.periodMs, group.periodMs * 0.03) << "D" << group.first;
        }
        if (group.maxGapMs > 0) {
            EXPECT_LE(longest, qint64(group.maxGapMs * Ms)) << "D" << group.first;
        }
    }

    int said = 0;
    for (const LineEvent& event : line.core.takeEvents().lineEvents) {
        if (event.kind != LineEvent::Kind::Overbooked)
            continue;
        ++said;
        const QRegularExpressionMatch runs = QRegularExpression(QStringLiteral("runs ([0-9.]+)x slower"))
                                                 .match(event.text);
        ASSERT_TRUE(runs.hasMatch()) << event.text.toStdString();
        EXPECT_NEAR(runs.captured(1).toDouble(), GetParam().stretch, 0.03) << event.text.toStdString();
    }
    EXPECT_EQ(said, GetParam().stretch > 0 ? 1 : 0);
    // The runtime's own figures agree with the line's.
    for (const PollClassFigures& figures : line.core.pollClasses())
        EXPECT_GT(figures.achievedPeriodUs, 0);
}

INSTANTIATE_TEST_SUITE_P(Fake, PollClasses, ::testing::ValuesIn(classCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A slow variable whose word a fast block reads anyway costs no block of
// its own; a write goes before the next due block, and lands.
TEST(PollClassesShare, ASlowVariableInAFastBlockAndAWriteFirst)
{
    LineSettings settings;
    settings.baud = 9600;
    FakeLine line(settings);
    const QList<VariableAddress> polled{variable(QStringLiteral("D0"), 20), variable(QStringLiteral("D5")),
                                        variable(QStringLiteral("D2000"), 30)};
    EXPECT_EQ(line.core.setPolled(polled, false, line.now, {200, 10000, 0}), 2);
    line.runFor(2 * S);
    const RequestId id = line.core.queueWrite(variable(QStringLiteral("D3000")), QByteArray("\x07\x00", 2));
    const int from = line.sent.size();
    EXPECT_TRUE(line.outcome(id).good);
    ASSERT_GT(line.sent.size(), from);
    EXPECT_EQ(decodeRequest(line.sent.at(from)).kind, DecodedRequest::Kind::BlockWrite);
    EXPECT_EQ(line.plc.value(QStringLiteral("D"), 3000).value_or(0), 7u);
}

} // namespace
