#pragma once

// When each poll class's read blocks go on the line. A class asks for a
// pass over its blocks every so often (its period); the class without a
// period (as fast as the line allows) takes the time the others leave.
//
// Earliest deadline first: a pass of a timed class is released at its
// period and is due one period later; of the released passes, the block of
// the one due first goes next. The class without a period is always due,
// a block's line time over a tenth of the line after its last block (a
// 150 ms block 1.5 s after it: at least a tenth of the line, never
// starved), and runs whenever no timed pass is released. Writes and one-shot reads are not scheduled here:
// the module sends them ahead of any read block.
//
// When the classes ask for more line time than the line has (a timed class
// asks its pass's line time per period), every period is stretched by the
// same factor, so each class gets its share of the line in proportion to
// what it asked and none starves.

#include <QVector>
#include <QtGlobal>

#include <optional>

struct PollClassFigures {
    qint64 periodUs = 0;          // asked; 0: as fast as the line allows
    qint64 stretchedPeriodUs = 0; // the period scheduled, after an overbooked line's stretch
    qint64 passUs = 0;            // line time of one pass over its blocks
    int blocks = 0;
    qint64 passes = 0;            // passes completed
    qint64 achievedPeriodUs = -1; // mean time between the last passes' ends (up to 8); -1 before two passes
};

// The ends of a class's last passes: its achieved period is their mean
// distance, over up to 8 passes, so that a pass that waited for a block and
// the quicker one after it count as the period they make together.
class PassClock {
public:
    void ended(qint64 nowUs);
    qint64 periodUs() const;
    qint64 passes() const { return passes_; }
    void restart() { ends_.clear(); }

private:
    static constexpr int Kept = 9;
    QVector<qint64> ends_;
    qint64 passes_ = 0;
};

class PollSchedule {
public:
    // Share of the line kept for the class without a period, when there is one.
    static constexpr double UntimedShare = 0.1;

    struct Class {
        qint64 periodUs = 0;       // 0: as fast as the line allows
        QVector<qint64> blockUs;   // line time of each block, in the order sent
    };

    // New classes, each pass from the first block; passes of timed classes
    // are released from `nowUs` on.
    void reset(const QVector<Class>& classes, qint64 nowUs);
    // New block costs (a new measured turnaround), same classes and blocks:
    // passes go on where they are.
    void reprice(const QVector<Class>& classes);

    struct Pick {
        int pollClass = 0;
        int block = 0; // within the class
    };
    // The block to send now, if any.
    std::optional<Pick> next(qint64 nowUs) const;
    // When the earliest pass of a timed class is released (or was, when it
    // is under way); the largest qint64 when there is no timed class.
    qint64 nextReleaseUs() const;
    // The block's read ended (answered or given up) at `nowUs`.
    void served(const Pick& pick, qint64 nowUs);

    // Line time the timed classes ask, per second of line.
    double demand() const { return demand_; }
    // Line time the timed classes may have per second: 1, less the share
    // kept for the class without a period.
    double capacity() const { return capacity_; }
    // Factor every period is stretched by: demand over capacity, at least 1.
    double stretch() const { return stretch_; }
    QVector<PollClassFigures> figures() const;
    int size() const { return static_cast<int>(classes_.size()); }

private:
    struct State {
        Class asked;
        qint64 passUs = 0;
        int position = 0;        // next block of the pass
        qint64 releaseUs = 0;    // the pass under way was released then
        PassClock clock;
        qint64 lastServedUs = 0; // the class without a period: its last block's end
    };
    qint64 stretchedUs(const State& state) const;
    qint64 dueUs(const State& state) const;
    void price();

    QVector<State> classes_;
    double demand_ = 0;
    double capacity_ = 1;
    double stretch_ = 1;
};
