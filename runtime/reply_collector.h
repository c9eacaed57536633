#pragma once

// Gathers the bytes of one reply as they arrive from a line, up to the length
// the request expects (RequestFrame::ReplyLength), so the host never waits for
// bytes that are not coming.

#include <QByteArray>

class ReplyCollector {
public:
    explicit ReplyCollector(int expectedLength);

    // Bytes still wanted; 0 once the reply is complete.
    int missing() const;
    bool isComplete() const { return missing() == 0; }

    // Appends what arrived, keeping at most the missing bytes; the surplus
    // belongs to no request and is dropped.
    void take(const QByteArray& bytes);

    const QByteArray& reply() const { return reply_; }

private:
    int expected_;
    QByteArray reply_;
};
