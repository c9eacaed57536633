#include "poll_schedule.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 NeverUs = std::numeric_limits<qint64>::max();

qint64 sum(const QVector<qint64>& values)
{
    qint64 total = 0;
    for (const qint64 value : values)
        total += value;
    return total;
}

} // namespace

void PassClock::ended(qint64 nowUs)
{
    ++passes_;
    if (ends_.size() == Kept)
        ends_.removeFirst();
    ends_.append(nowUs);
}

qint64 PassClock::periodUs() const
{
    return ends_.size() < 2 ? -1 : (ends_.last() - ends_.first()) / (ends_.size() - 1);
}

void PollSchedule::reset(const QVector<Class>& classes, qint64 nowUs)
{
    classes_.clear();
    for (const Class& asked : classes) {
        State state;
        state.asked = asked;
        state.releaseUs = nowUs;
        state.lastServedUs = nowUs;
        classes_.append(state);
    }
    price();
}

void PollSchedule::reprice(const QVector<Class>& classes)
{
    for (int c = 0; c < classes_.size() && c < classes.size(); ++c) {
        if (classes.at(c).blockUs.size() == classes_.at(c).asked.blockUs.size())
            classes_[c].asked.blockUs = classes.at(c).blockUs;
    }
    price();
}

void PollSchedule::price()
{
    demand_ = 0;
    bool untimed = false;
    for (State& state : classes_) {
        state.passUs = sum(state.asked.blockUs);
        if (state.asked.blockUs.isEmpty())
            continue;
        if (state.asked.periodUs > 0)
            demand_ += double(state.passUs) / double(state.asked.periodUs);
        else
            untimed = true;
    }
    capacity_ = untimed ? 1.0 - UntimedShare : 1.0;
    stretch_ = std::max(1.0, demand_ / capacity_);
}

qint64 PollSchedule::stretchedUs(const State& state) const
{
    return static_cast<qint64>(std::ceil(double(state.asked.periodUs) * stretch_));
}

qint64 PollSchedule::dueUs(const State& state) const
{
    if (state.asked.periodUs > 0)
        return state.releaseUs + stretchedUs(state);
    // The class without a period: a block's line time over its share after
    // its last block, so that it keeps that share of the line.
    const qint64 blockUs = state.asked.blockUs.at(state.position);
    return state.lastServedUs + static_cast<qint64>(double(blockUs) / UntimedShare);
}

std::optional<PollSchedule::Pick> PollSchedule::next(qint64 nowUs) const
{
    std::optional<Pick> pick;
    qint64 pickDueUs = NeverUs;
    int untimed = -1;
    bool timedReleased = false;
    for (int c = 0; c < classes_.size(); ++c) {
        const State& state = classes_.at(c);
        if (state.asked.blockUs.isEmpty())
            continue;
        if (state.asked.periodUs <= 0)
            untimed = c;
        else if (nowUs < state.releaseUs)
            continue;
        else
            timedReleased = true;
        const qint64 due = dueUs(state);
        if (due < pickDueUs) { // ties: the class listed first (the faster)
            pickDueUs = due;
            pick = Pick{c, state.position};
        }
    }
    if (!timedReleased && untimed >= 0)
        return Pick{untimed, classes_.at(untimed).position}; // the time the timed classes leave
    return pick;
}

qint64 PollSchedule::nextReleaseUs() const
{
    qint64 earliest = NeverUs;
    for (const State& state : classes_) {
        if (!state.asked.blockUs.isEmpty() && state.asked.periodUs > 0)
            earliest = std::min(earliest, state.releaseUs);
    }
    return earliest;
}

void PollSchedule::served(const Pick& pick, qint64 nowUs)
{
    if (pick.pollClass < 0 || pick.pollClass >= classes_.size())
        return;
    State& state = classes_[pick.pollClass];
    if (pick.block != state.position || state.asked.blockUs.isEmpty())
        return; // a block of an earlier plan
    state.lastServedUs = nowUs;
    if (++state.position < state.asked.blockUs.size())
        return;
    state.position = 0;
    state.clock.ended(nowUs);
    if (state.asked.periodUs > 0)
        state.releaseUs = std::max(state.releaseUs + stretchedUs(state), nowUs);
}

QVector<PollClassFigures> PollSchedule::figures() const
{
    QVector<PollClassFigures> figures;
    for (const State& state : classes_) {
        PollClassFigures f;
        f.periodUs = state.asked.periodUs;
        f.stretchedPeriodUs = state.asked.periodUs > 0 ? stretchedUs(state) : 0;
        f.passUs = state.passUs;
        f.blocks = static_cast<int>(state.asked.blockUs.size());
        f.passes = state.clock.passes();
        f.achievedPeriodUs = state.clock.periodUs();
        figures.append(f);
    }
    return figures;
}
