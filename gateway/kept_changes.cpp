#include "kept_changes.h"

void MemoryKeptChanges::keep(const KeptChange& change)
{
    std::deque<KeptChange>& kept = lines_[change.line];
    if (size_ >= limit_ && !kept.empty()) {
        kept.pop_front();
        --size_;
        ++dropped_;
    } else if (size_ >= limit_) {
        ++dropped_; // a line with nothing kept yet, in a full queue
        return;
    }
    kept.push_back(change);
    ++size_;
}

QVector<KeptChange> MemoryKeptChanges::take(int line)
{
    QVector<KeptChange> changes;
    auto it = lines_.find(line);
    if (it == lines_.end())
        return changes;
    for (const KeptChange& change : *it)
        changes.append(change);
    size_ -= int(it->size());
    lines_.erase(it);
    return changes;
}
