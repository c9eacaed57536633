#include "reply_collector.h"

#include "port_protocol.h"

#include <algorithm>

ReplyCollector::ReplyCollector(int expectedLength)
    : expected_(std::max(expectedLength, 0))
{
}

int ReplyCollector::missing() const
{
    // A PLC refuses a request with a lone NAK and acknowledges with a lone
    // ACK; a data reply starts with STX. So a first byte of NAK or ACK is the
    // whole reply, even when a read expected 8 bytes: waiting for 7 more would
    // only cost a timeout before the module calls it a reply of the wrong length.
    if (!reply_.isEmpty() && (reply_.at(0) == Port::NAK || reply_.at(0) == Port::ACK))
        return 0;
    return expected_ - static_cast<int>(reply_.size());
}

void ReplyCollector::take(const QByteArray& bytes)
{
    for (const char byte : bytes) {
        if (missing() <= 0)
            return;
        reply_.append(byte);
    }
}
