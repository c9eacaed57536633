#pragma once

// Pairs replies with requests by proof. A programming-port reply carries no
// address: a data frame says only how many bytes it holds, an ACK or a NAK
// says nothing. So the host sends a request only while the line is in step
// (no earlier request can still be answered); then whatever comes is that
// request's answer. After a reply fails (no reply in time, a cut or garbled
// one) the failed request may still be answered, late. The host then sends
// probes, reads of D0 whose answers have a length no outstanding request's
// answer can have, and the line is back in step once a probe's answer comes:
// the PLC answers in order, so everything sent before the probe has been
// answered or is lost for good.
//
// A late answer proves its own request's fate too, when its shape is unique
// among the outstanding requests: a write's late ACK shows the write landed,
// and how late it came is the PLC's pace.

#include "reply_stream.h"

#include <QVector>
#include <QtGlobal>

// What a request's answer looks like when it is not refused: an ACK, or a
// data frame of `dataBytes` bytes.
struct AnswerShape {
    bool ack = false;
    int dataBytes = 0;

    bool operator==(const AnswerShape& other) const { return ack == other.ack && dataBytes == other.dataBytes; }
};

class ReplyPairing {
public:
    struct Sent {
        AnswerShape shape;
        int requestLength = 0;
        qint64 sentUs = 0;     // when it was handed to the line
        qint64 deadlineUs = 0; // when its answer was due in full
        bool probe = false;
    };
    struct Proof {
        bool proven = false; // the unit answers `request`, and nothing sent before it is still to come
        Sent request;
    };

    bool inStep() const { return sent_.isEmpty(); }
    int outstanding() const { return static_cast<int>(sent_.size()); }
    const QVector<Sent>& requests() const { return sent_; }

    // A request went out and may now be answered at any time.
    void sent(const Sent& request) { sent_.append(request); }
    // A unit came while out of step. A data frame is proven when exactly one
    // outstanding request expects its length; an ACK when exactly one
    // expects an ACK; a NAK only when a single request is outstanding.
    Proof arrived(const ReplyUnit& unit);
    // The size of the next probe: the smallest read of 1 to MaxProbeBytes
    // bytes whose answer no outstanding request shares; 0 when none is left.
    int probeBytes() const;
    // A new stream (the line reopened): nothing sent before can be answered on it.
    void clear() { sent_.clear(); }

    static constexpr int MaxProbeBytes = 16;

private:
    QVector<Sent> sent_; // oldest first
};
