// LineCore's poll classes: the variables of each period planned by cost,
// the fastest first, and the one block due next held in the module's
// cyclic list for the request cycle to send.

#include "line_core.h"

#include "line_timing.h"

#include <algorithm>

namespace {

bool within(const PolledSpan& inner, const PolledSpan& outer)
{
    return inner.area == outer.area && inner.first >= outer.first && inner.end <= outer.end;
}

bool coveredBy(const QVector<PolledSpan>& blocks, const PolledSpan& span)
{
    return std::any_of(blocks.cbegin(), blocks.cend(), [&](const PolledSpan& block) { return within(span, block); });
}

bool samePick(const std::optional<PollSchedule::Pick>& a, const std::optional<PollSchedule::Pick>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->pollClass == b->pollClass && a->block == b->block);
}

} // namespace

void LineCore::planClasses(PolledPlan& polled, const ReadCostModel& model) const
{
    // The fastest class first; the class without a period last. A variable
    // whose registers a faster class's block reads already is read by that
    // block, as often, and costs its own class nothing.
    QVector<int> periods;
    bool untimed = false;
    for (const int ms : everyMs_) {
        if (ms > 0 && !periods.contains(ms))
            periods.append(ms);
        untimed = untimed || ms <= 0;
    }
    std::sort(periods.begin(), periods.end());
    if (untimed)
        periods.append(0);
    QVector<PolledSpan> taken;
    for (int c = 0; c < periods.size(); ++c) {
        QSet<int> others = polled.atFault;
        for (int v = 0; v < polled.spans.size(); ++v) {
            if (std::max(everyMs_.value(v), 0) != periods.at(c) || coveredBy(taken, polled.spans.at(v)))
                others.insert(v);
        }
        const ReadPlan part = planReads(polled.spans, model, others);
        for (const ReadBlock& block : part.blocks) {
            polled.plan.blocks.append(block);
            polled.blockClass.append(c);
            taken.append(blockSpan(block.regName, block.addr, block.count));
        }
        for (const UnplannedVariable& unplanned : part.unplanned) {
            if (!others.contains(unplanned.variable))
                polled.plan.unplanned.append(unplanned);
        }
        polled.classPeriodsUs.append(qint64(periods.at(c)) * 1000);
    }
}

QVector<PollSchedule::Class> LineCore::scheduleClasses(const PolledPlan& plan, qint64 turnaroundUs) const
{
    QVector<PollSchedule::Class> classes(plan.classPeriodsUs.size());
    for (int c = 0; c < classes.size(); ++c)
        classes[c].periodUs = plan.classPeriodsUs.at(c);
    for (int b = 0; b < plan.plan.blocks.size(); ++b) {
        const qint64 characters = blockReadCharacters(readBlockBytes(plan.plan.blocks.at(b)));
        classes[plan.blockClass.at(b)].blockUs.append(LineTiming::wireTimeUs(characters, settings_.baud)
                                                      + turnaroundUs);
    }
    return classes;
}

void LineCore::holdScheduledBlock(qint64 nowUs)
{
    // Between exchanges only: a frame waiting for its resend keeps its block.
    const std::optional<PollSchedule::Pick> pick = schedule_.next(nowUs);
    if (samePick(pick, held_))
        return;
    module_->ReCreatReadVarList({});
    held_ = pick;
    if (!pick)
        return;
    for (int b = 0, position = 0; b < plan_.blockClass.size(); ++b) {
        if (plan_.blockClass.at(b) != pick->pollClass)
            continue;
        if (position++ == pick->block) {
            module_->AddListReadVar(readItem(plan_.plan.blocks.at(b), settings_.station));
            return;
        }
    }
}

void LineCore::noteOverbooked()
{
    // Said once the price stands on a turnaround the line measured (or the
    // user fixed), not on the 0 a line that has not answered yet gives.
    if (overbookedSaid_ || schedule_.stretch() <= 1.0 || (settings_.turnaroundMs < 0 && !answeredSinceOpen_))
        return;
    overbookedSaid_ = true;
    const bool untimedKept = schedule_.capacity() < 1.0;
    addEvent(LineEvent::Kind::Overbooked,
             QStringLiteral("the poll classes ask for %1 s of line time per second; the line gives %2 s%3: "
                            "every class runs %4x slower than asked (priced at %5 baud and %6 ms a frame)")
                 .arg(schedule_.demand(), 0, 'f', 2)
                 .arg(schedule_.capacity(), 0, 'g', 2)
                 .arg(untimedKept ? QStringLiteral(" to them, a tenth kept for the tags without a period")
                                  : QString())
                 .arg(schedule_.stretch(), 0, 'f', 2)
                 .arg(settings_.baud)
                 .arg(double(plan_.turnaroundUs) / 1000.0, 0, 'f', 1));
}

void LineCore::flatBlockEnded(qint64 nowUs)
{
    const int frames = plan_.plan.frames();
    if (settings_.planning == ReadPlanning::Module || frames == 0 || ++flatBlocksServed_ % frames != 0)
        return;
    flatClock_.ended(nowUs);
}

QVector<PollClassFigures> LineCore::pollClasses() const
{
    if (classesScheduled())
        return schedule_.figures();
    if (plan_.plan.blocks.isEmpty())
        return {};
    PollClassFigures flat;
    flat.blocks = plan_.plan.frames();
    for (const ReadBlock& block : plan_.plan.blocks)
        flat.passUs += LineTiming::wireTimeUs(blockReadCharacters(readBlockBytes(block)), settings_.baud)
                       + plan_.turnaroundUs;
    flat.passes = flatClock_.passes();
    flat.achievedPeriodUs = flatClock_.periodUs();
    return {flat};
}
