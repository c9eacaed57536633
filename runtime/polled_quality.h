#pragma once

// Which polled variables the latest replies vouch for. The module merges the
// polled variables into read blocks and keeps no link from a block back to
// them; this keeps that link on the host's side, from the outcome of each
// block the cycle reads, so that one refused or lost block marks its own
// variables and no others.

#include "variable_address.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QVector>

// A run of registers in one device area, in the unit the area's reads count:
// bits for the bit types, 16-bit words for D (D_bit included), SD, TV and CV,
// 32-bit counters for 32CV.
struct PolledSpan {
    QString area;
    qint64 first = 0;
    qint64 end = 0; // one past the last

    bool overlaps(const PolledSpan& other) const
    {
        return area == other.area && first < other.end && other.first < end;
    }
};

// The registers a variable's values come from: D10.3 with 16 bits spans the
// words D10 and D11.
PolledSpan variableSpan(const VariableAddress& variable);

// What a read block of the module covers: bit blocks count bytes from a bit
// index, word blocks words, and a block of 32-bit counters Count - 1 counters
// (its Count is last - first + 2 words for the counters first to last).
PolledSpan blockSpan(const QString& regName, qint32 addr, qint32 count);

enum class Quality { Waiting, Good, Bad };

struct VariableQuality {
    Quality quality = Quality::Waiting;
    QString error; // why it is bad
};

class PolledQuality {
public:
    // A new polled set: every variable waits for its first reads.
    void reset(const QList<VariableAddress>& variables);
    // A variable the host will not poll at all, for good.
    void refuse(int variable, const QString& error);
    // A block ended well, or was given up (`error` says why).
    void blockEnded(const PolledSpan& block, bool good, const QString& error);
    // The line was lost: every variable is bad until its blocks are read again.
    void invalidate(const QString& error);

    int size() const { return static_cast<int>(variables_.size()); }
    VariableQuality quality(int variable) const;

private:
    struct BlockOutcome {
        qint64 end = 0;
        bool good = false;
        QString error;
    };
    struct Tracked {
        PolledSpan span;
        QString refusal;
        QString lostError;                   // since the line was lost, until read again
        QMap<qint64, BlockOutcome> blocks;   // by the block's first register
    };

    static bool covered(const Tracked& tracked);

    QVector<Tracked> variables_;
    QHash<QString, QVector<int>> byArea_; // variable indexes, by their first register
    QHash<QString, qint64> longestInArea_;
};
