// A PLC that answers after the host's timeout, over a pseudo-terminal and
// over TCP. The programming port's replies carry no address, so only line
// discipline keeps a late reply from passing for the next request's answer:
// every value the tool prints is its own register's or a failure, "written"
// appears only for values the PLC holds, and no other register moves.

#include "tool/tool_process.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

constexpr int Registers = 40;

quint32 initialValue(int k)
{
    return 1000u + static_cast<quint32>(k);
}

struct LateCase {
    const char* name;
    ServedOn on;
    double lateShare; // of all replies
};

class LateReplies : public ::testing::TestWithParam<LateCase> {
protected:
    // The host waits 50 ms beyond the line time (a one-word read at 9600
    // baud: 20 + 50 = 70 ms); a late reply comes 120 ms after its request.
    // `byteLimit` 2: D words are written, the 4-byte writes of 32-bit
    // counters are refused (NAK).
    QString run(const QString& command, int byteLimit = 64)
    {
        VirtualPlcOptions options;
        options.faults.seed = 7;
        options.faults.rule(FaultKind::Delay).probability = GetParam().lateShare;
        options.faults.delayUs = 120000;
        options.byteLimit = byteLimit;
        served = std::make_unique<ServedPlc>(GetParam().on, options);
        for (int k = 0; k < Registers; ++k)
            served->plc.setValue(QStringLiteral("D"), k, initialValue(k));
        return tavrin(command + QStringLiteral(" --timeout-ms 50 --retries 1 --no-probe --port ") + served->port());
    }

    std::unique_ptr<ServedPlc> served;
};

TEST_P(LateReplies, ReadsPrintTheirOwnRegistersValueOrAFailure)
{
    const QString out = run(QStringLiteral("read D0 D2 D4 D6 D8 D10 D12 D14"));
    int accounted = out.count(QRegularExpression(QStringLiteral("tavrin read: D\\d+: ")));
    const QRegularExpression valueLine(QStringLiteral("^D(\\d+) = (\\d+)$"), QRegularExpression::MultilineOption);
    for (auto match = valueLine.globalMatch(out); match.hasNext(); ++accounted) {
        const auto m = match.next();
        EXPECT_EQ(m.captured(2).toUInt(), initialValue(m.captured(1).toInt())) << out.toStdString();
    }
    EXPECT_EQ(accounted, 8) << out.toStdString();
}

// A refused write must not borrow the late ACK of the write before it.
TEST_P(LateReplies, WritesReportWrittenOnlyForValuesThePlcHoldsAndTouchNothingElse)
{
    const QString out = run(QStringLiteral("write D20=1 32CV201=2 D21=3 32CV202=4 D22=5 32CV203=6"), 2);
    const QRegularExpression written(QStringLiteral("^(D|32CV)(\\d+) = (\\d+)( \\(was \\d+\\))?: written$"),
                                     QRegularExpression::MultilineOption);
    int accounted = out.count(QStringLiteral(": failed, "));
    for (auto match = written.globalMatch(out); match.hasNext(); ++accounted) {
        const auto m = match.next();
        const int index = m.captured(2).toInt() - (m.captured(1) == QLatin1String("D") ? 0 : 200);
        EXPECT_EQ(served->plc.value(m.captured(1), index), m.captured(3).toUInt()) << out.toStdString();
    }
    EXPECT_EQ(accounted, 6) << out.toStdString();
    for (int k = 0; k < Registers; ++k) {
        const quint32 now = served->plc.value(QStringLiteral("D"), k).value_or(0);
        if (k >= 20 && k <= 22) // a write given up may still have reached the PLC
            EXPECT_TRUE(now == initialValue(k) || now == quint32(2 * (k - 20) + 1)) << "D" << k << " = " << now;
        else
            EXPECT_EQ(now, initialValue(k)) << "D" << k;
    }
    for (int k = 0; k < 56; ++k)
        EXPECT_EQ(served->plc.value(QStringLiteral("32CV"), k), 0u) << "C" << 200 + k;
}

INSTANTIATE_TEST_SUITE_P(Lines, LateReplies,
                         ::testing::Values(LateCase{"PtyEveryReply", ServedOn::Pty, 1.0},
                                           LateCase{"PtyHalfTheReplies", ServedOn::Pty, 0.5},
                                           LateCase{"TcpEveryReply", ServedOn::Tcp, 1.0},
                                           LateCase{"TcpHalfTheReplies", ServedOn::Tcp, 0.5}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
