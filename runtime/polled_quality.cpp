#include "polled_quality.h"

#include <algorithm>

PolledSpan variableSpan(const VariableAddress& variable)
{
    PolledSpan span{variable.regName, variable.index, qint64(variable.index) + variable.registers};
    // SM and SD are areas of their own; D_bit lies in D.
    if (variable.type && variable.type->id == RegisterKindId::DBit) {
        // Bits of D words: D10.3 (index 163) with 16 bits ends at bit 178, in D11.
        span.area = QStringLiteral("D");
        span.first = variable.index / 16;
        span.end = (qint64(variable.index) + variable.registers - 1) / 16 + 1;
    }
    return span;
}

PolledSpan blockSpan(const QString& regName, qint32 addr, qint32 count)
{
    const RegisterKind* type = findRegisterKind(regName);
    PolledSpan span{regName, addr, qint64(addr) + count};
    if (!type)
        return span;
    span.area = QLatin1String(type->area);
    if (type->readInBytes())
        span.end = qint64(addr) + 8 * qint64(count);
    else if (type->element == ElementKind::DoubleWord)
        span.end = qint64(addr) + count - 1;
    return span;
}

void PolledQuality::reset(const QList<VariableAddress>& variables)
{
    variables_.clear();
    byArea_.clear();
    longestInArea_.clear();
    for (const VariableAddress& variable : variables) {
        Tracked tracked;
        tracked.span = variableSpan(variable);
        const int index = static_cast<int>(variables_.size());
        variables_.append(tracked);
        byArea_[tracked.span.area].append(index);
        qint64& longest = longestInArea_[tracked.span.area];
        longest = std::max(longest, tracked.span.end - tracked.span.first);
    }
    for (QVector<int>& indexes : byArea_) {
        std::sort(indexes.begin(), indexes.end(),
                  [this](int a, int b) { return variables_.at(a).span.first < variables_.at(b).span.first; });
    }
}

void PolledQuality::refuse(int variable, const QString& error)
{
    if (variable >= 0 && variable < variables_.size())
        variables_[variable].refusal = error;
}

void PolledQuality::blockEnded(const PolledSpan& block, bool good, const QString& error)
{
    const auto area = byArea_.constFind(block.area);
    if (area == byArea_.constEnd())
        return;
    // Variables that overlap the block start less than the longest variable
    // before its end.
    const qint64 earliest = block.first - longestInArea_.value(block.area);
    auto it = std::lower_bound(area->begin(), area->end(), earliest,
                               [this](int index, qint64 first) { return variables_.at(index).span.first < first; });
    for (; it != area->end() && variables_.at(*it).span.first < block.end; ++it) {
        Tracked& tracked = variables_[*it];
        if (tracked.span.overlaps(block))
            tracked.blocks.insert(block.first, BlockOutcome{block.end, good, error});
    }
}

void PolledQuality::invalidate(const QString& error)
{
    for (Tracked& tracked : variables_) {
        tracked.blocks.clear();
        tracked.lostError = error;
    }
}

bool PolledQuality::covered(const Tracked& tracked)
{
    qint64 next = tracked.span.first;
    for (auto it = tracked.blocks.constBegin(); it != tracked.blocks.constEnd() && next < tracked.span.end; ++it) {
        if (it.key() > next)
            return false;
        next = std::max(next, it->end);
    }
    return next >= tracked.span.end;
}

VariableQuality PolledQuality::quality(int variable) const
{
    if (variable < 0 || variable >= variables_.size())
        return {};
    const Tracked& tracked = variables_.at(variable);
    if (!tracked.refusal.isEmpty())
        return {Quality::Bad, tracked.refusal};
    for (const BlockOutcome& outcome : tracked.blocks) {
        if (!outcome.good)
            return {Quality::Bad, outcome.error};
    }
    if (covered(tracked))
        return {Quality::Good, QString()};
    if (!tracked.lostError.isEmpty())
        return {Quality::Bad, tracked.lostError};
    return {};
}
