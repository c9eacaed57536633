#pragma once

// Keeps each reply paired with its request on a line whose replies carry no
// address. Input that arrived before a request was sent is dropped before
// the send; after a failed reply the line must stay quiet for the quiet
// period (line_timing.h) before anything is sent again, and what arrives
// meanwhile (a reply the PLC sends after the timeout) is dropped. A late
// reply that still gets through is seen before the next send: then the quiet
// period grows, so that a PLC slower than its allowance costs time, never a
// wrong pairing.

#include "line.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QtGlobal>

class LineDiscipline {
public:
    LineDiscipline(qint64 baud, int answerAllowanceMs);

    struct Exchange {
        QByteArray reply;
        QByteArray stale;     // dropped before the send: it belonged to an earlier request
        bool sent = false;    // false: the line failed to send
        int timeoutMs = 0;
    };
    // Drops stale input, sends the request and collects up to `replyLength`
    // bytes within the request's timeout.
    Exchange exchange(Line& line, const QByteArray& request, int replyLength);

    // After a failed reply: waits until the line has been quiet for the
    // quiet period and returns the late bytes it dropped.
    QByteArray settle(Line& line);

    int timeoutMs(int requestLength, int replyLength) const;
    int quietPeriodMs() const { return baseQuietMs_ + extraQuietMs_; }
    // How long after its request the latest late reply ended, 0 when none
    // came; and the timeout that request had.
    int lateAnswerMs() const { return lateAnswerMs_; }
    int lateTimeoutMs() const { return lateTimeoutMs_; }

private:
    void lengthenQuiet(int extraMs);

    qint64 baud_;
    int answerAllowanceMs_;
    int baseQuietMs_;
    int extraQuietMs_ = 0;
    int lastTimeoutMs_ = 0;
    int lateAnswerMs_ = 0;
    int lateTimeoutMs_ = 0;
    QElapsedTimer sinceSend_;
};
