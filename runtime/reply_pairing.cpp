#include "reply_pairing.h"

ReplyPairing::Proof ReplyPairing::arrived(const ReplyUnit& unit)
{
    int match = -1;
    int candidates = 0;
    const int dataBytes = unit.dataBytes();
    for (int i = 0; i < sent_.size(); ++i) {
        const AnswerShape& shape = sent_.at(i).shape;
        const bool fits = unit.kind == ReplyUnit::Kind::Nak
                              ? true
                              : unit.kind == ReplyUnit::Kind::Ack ? shape.ack
                                                                  : !shape.ack && shape.dataBytes == dataBytes;
        if (fits) {
            ++candidates;
            match = i;
        }
    }
    const bool proven = unit.kind == ReplyUnit::Kind::Nak ? sent_.size() == 1 : candidates == 1;
    if (!proven || (unit.kind == ReplyUnit::Kind::Frame && dataBytes < 0))
        return {};
    Proof proof{true, sent_.at(match)};
    sent_.remove(0, match + 1);
    return proof;
}

int ReplyPairing::probeBytes() const
{
    for (int bytes = 1; bytes <= MaxProbeBytes; ++bytes) {
        bool taken = false;
        for (const Sent& request : sent_)
            taken = taken || (!request.shape.ack && request.shape.dataBytes == bytes);
        if (!taken)
            return bytes;
    }
    return 0;
}
