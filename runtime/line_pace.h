#pragma once

// How fast the PLC answers, as measured, and how long a request may take.
// A request's timeout is its characters and its reply's at the baud rate plus
// an answer allowance: the PLC's scan, an adapter's latency, a network hop.
// The allowance starts at the user's value and, unless the user fixed it,
// follows the slowest answers measured lately: a PLC or a device server that
// answers in 600 ms gets about 900 ms after its first late answers, and
// shrinks back slowly once it is fast again. Answers are measured only when
// proven (reply_pairing.h), so a late answer to another request never
// passes for a slow PLC.

#include <QtGlobal>

class LinePace {
public:
    LinePace(qint64 baud, int allowanceMs, bool learn);

    // From the moment the request is handed to the line until its reply of
    // `replyCharacters` must be in.
    qint64 timeoutUs(int requestCharacters, int replyCharacters) const;
    // A proven answer of `replyCharacters` ended `answerUs` after its
    // request of `requestCharacters` was handed to the line.
    void answered(qint64 answerUs, int requestCharacters, int replyCharacters);

    int allowanceMs() const;
    // The PLC's answer delay and the line's latency beyond the characters'
    // time, averaged over about the last eight answers.
    qint64 turnaroundUs() const { return turnaroundUs_; }
    // The slowest recent answer beyond the characters' time.
    qint64 slowestUs() const { return slowestUs_; }
    bool learns() const { return learn_; }

    // However slow the PLC has been, the allowance stays below this.
    static constexpr int MaxAllowanceMs = 10000;

private:
    qint64 baud_;
    int baseAllowanceMs_;
    bool learn_;
    qint64 turnaroundUs_ = -1;
    qint64 slowestUs_ = 0;
};
