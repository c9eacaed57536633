#pragma once

// Deliberate line and PLC faults on the replies of the virtual PLC, so that
// a host's retries, timeouts and error paths can be exercised on purpose.
//
// Every reply (ACK, NAK, data frame) passes through apply() once. Each fault
// kind fires by probability, by schedule (the Nth, 2Nth, ... reply), or both.
// At most one fault hits a reply; when several fire, the first in the order
// of FaultKind wins. Reproducible: the generator is std::mt19937 seeded with
// `seed`, its raw 32-bit output is compared against p x 2^32 (no library
// distribution, whose algorithm differs between standard libraries), and
// exactly one number is drawn per kind per reply, plus one for the position
// of a corrupted character, so a seed gives the same sequence everywhere.

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <deque>
#include <random>

enum class FaultKind {
    Drop,     // no reply at all
    Nak,      // NAK (0x15) instead of the reply
    Truncate, // only the first half of the reply (a 12-character reply keeps 6, an ACK none)
    Corrupt,  // one character changed (its lowest bit flipped), so the sum or the ACK is wrong
    Delay,    // the reply unchanged but held back by FaultOptions::delayUs
};
constexpr int FaultKindCount = 5;

struct FaultRule {
    double probability = 0.0; // per reply, 0 to 1
    int every = 0;            // N > 0: the Nth, 2Nth, ... reply; 0: no schedule
};

struct FaultOptions {
    quint32 seed = 1;
    std::array<FaultRule, FaultKindCount> rules{};
    qint64 delayUs = 200000; // a delay fault holds a reply back this long (a host's timeout is typically shorter)

    FaultRule& rule(FaultKind kind) { return rules[static_cast<size_t>(kind)]; }
    const FaultRule& rule(FaultKind kind) const { return rules[static_cast<size_t>(kind)]; }
};

struct FaultedReply {
    QByteArray bytes;          // what goes on the line (empty: silence)
    qint64 extraDelayUs = 0;   // how long the line adapter holds it back beyond pacing
    bool faulted = false;
    FaultKind fault = FaultKind::Drop; // meaningful when faulted
};

class FaultInjector {
public:
    explicit FaultInjector(const FaultOptions& options = FaultOptions());

    FaultedReply apply(const QByteArray& reply);
    // The next `replies` replies get `kind`, before any rule is drawn for
    // them (the draws still advance, so a seed's later faults stay put).
    void queue(FaultKind kind, int replies);

    const FaultOptions& options() const { return options_; }
    quint64 repliesSeen() const { return repliesSeen_; }
    quint64 injected(FaultKind kind) const { return injected_[static_cast<size_t>(kind)]; }
    quint64 injectedTotal() const;

private:
    bool fires(const FaultRule& rule, quint32 draw) const;

    FaultOptions options_;
    std::mt19937 random_;
    quint64 repliesSeen_ = 0;
    std::array<quint64, FaultKindCount> injected_{};
    std::deque<FaultKind> queued_;
};
