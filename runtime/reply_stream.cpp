#include "reply_stream.h"

#include "port_frames.h"
#include "port_protocol.h"

namespace {

// A frame longer than the largest reply is noise that began with STX.
constexpr int LongestFrame = 2 * Port::MaxBlockBytes + Port::DataReplyOverhead;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

int ReplyUnit::dataBytes() const
{
    if (kind != Kind::Frame || !frameSumHolds(bytes) || bytes.size() % 2 != 0)
        return -1;
    for (int i = 1; i < bytes.size() - 3; ++i) {
        if (!isHexDigit(bytes.at(i)))
            return -1;
    }
    return static_cast<int>(bytes.size() - Port::DataReplyOverhead) / 2;
}

std::optional<ReplyUnit> ReplyStream::next()
{
    for (;;) {
        // Drop what cannot begin a unit.
        int start = 0;
        while (start < input_.size() && input_.at(start) != Port::STX && input_.at(start) != Port::ACK
               && input_.at(start) != Port::NAK)
            ++start;
        dropped_ += start;
        input_.remove(0, start);
        if (input_.isEmpty())
            return std::nullopt;
        const char first = input_.at(0);
        if (first != Port::STX) {
            input_.remove(0, 1);
            return ReplyUnit{first == Port::ACK ? ReplyUnit::Kind::Ack : ReplyUnit::Kind::Nak, QByteArray(1, first)};
        }
        // A frame: up to ETX and two sum characters. Another STX, ACK or
        // NAK before ETX means this one was cut: drop it and go on there.
        for (int i = 1; i < input_.size(); ++i) {
            const char c = input_.at(i);
            if (c == Port::STX || c == Port::ACK || c == Port::NAK || i >= LongestFrame) {
                dropped_ += i;
                input_.remove(0, i);
                break;
            }
            if (c == Port::ETX) {
                if (input_.size() < i + 3)
                    return std::nullopt;
                if (!isHexDigit(input_.at(i + 1)) || !isHexDigit(input_.at(i + 2))) {
                    dropped_ += i + 1; // no sum after ETX: a cut frame
                    input_.remove(0, i + 1);
                    break;
                }
                ReplyUnit unit{ReplyUnit::Kind::Frame, input_.left(i + 3)};
                input_.remove(0, i + 3);
                return unit;
            }
            if (i == input_.size() - 1)
                return std::nullopt;
        }
        if (input_.size() == 1)
            return std::nullopt;
    }
}
