#include "request_parser.h"

#include "port_codec.h"

namespace {

using Kind = ParsedRequest::Kind;

// Value of `digits` hex characters from `text`, most significant first;
// -1 if any is not an upper-case hex digit.
qint64 hexField(const char* text, int digits)
{
    qint64 value = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = PortCodec::hexValue(text[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

ParsedRequest malformed()
{
    return ParsedRequest{};
}

// Read and write: cmd, 4 address digits, 2 count digits, then (write) 2n data digits.
ParsedRequest decodeBlock(const char* body, int bodyLength, Kind kind)
{
    if (bodyLength < 7)
        return malformed();
    ParsedRequest request;
    request.kind = kind;
    request.address = hexField(body + 1, 4);
    request.byteCount = hexField(body + 5, 2);
    if (request.address < 0 || request.byteCount < 0)
        return malformed();
    const int dataChars = bodyLength - 7;
    if (kind == Kind::BlockRead)
        return dataChars == 0 ? request : malformed();
    if (dataChars != 2 * request.byteCount)
        return malformed();
    request.data.resize(static_cast<int>(request.byteCount));
    for (int i = 0; i < request.data.size(); ++i) {
        const qint64 byte = hexField(body + 7 + 2 * i, 2);
        if (byte < 0)
            return malformed();
        request.data[i] = static_cast<char>(byte);
    }
    return request;
}

// Force: cmd, then the bit address low byte first: "70005" is bit address 0x0500.
ParsedRequest decodeForce(const char* body, int bodyLength, Kind kind)
{
    if (bodyLength != 5)
        return malformed();
    const qint64 low = hexField(body + 1, 2);
    const qint64 high = hexField(body + 3, 2);
    if (low < 0 || high < 0)
        return malformed();
    ParsedRequest request;
    request.kind = kind;
    request.address = high * 256 + low;
    return request;
}

} // namespace

ParsedRequest decodeRequestFrame(const QByteArray& frame)
{
    const int length = static_cast<int>(frame.size());
    if (length < 4 || frame.at(0) != PortCodec::STX || frame.at(length - 3) != PortCodec::ETX)
        return malformed();
    const int etxIndex = length - 3;
    ParsedRequest request;
    if (frame.right(2) != PortCodec::sumText(frame.mid(1, etxIndex))) {
        request.kind = Kind::BadSum;
    } else {
        const char* body = frame.constData() + 1; // command character on
        const int bodyLength = etxIndex - 1;
        const char command = bodyLength > 0 ? body[0] : '\0';
        if (command == PortCodec::BlockRead)
            request = decodeBlock(body, bodyLength, Kind::BlockRead);
        else if (command == PortCodec::BlockWrite)
            request = decodeBlock(body, bodyLength, Kind::BlockWrite);
        else if (command == PortCodec::ForceOn)
            request = decodeForce(body, bodyLength, Kind::ForceOn);
        else if (command == PortCodec::ForceOff)
            request = decodeForce(body, bodyLength, Kind::ForceOff);
    }
    request.frameLength = length;
    return request;
}

QVector<ParsedRequest> RequestParser::feed(const QByteArray& bytes)
{
    QVector<ParsedRequest> requests;
    for (char c : bytes)
        take(c, requests);
    return requests;
}

void RequestParser::reset()
{
    frame_.clear();
    state_ = State::Hunting;
    sumChars_ = 0;
}

void RequestParser::drop()
{
    ignored_ += static_cast<quint64>(frame_.size());
    reset();
}

void RequestParser::take(char c, QVector<ParsedRequest>& out)
{
    switch (state_) {
    case State::Hunting:
        if (c == PortCodec::STX) {
            frame_.append(c);
            state_ = State::InFrame;
        } else if (c == PortCodec::ENQ) {
            ParsedRequest enquiry;
            enquiry.kind = Kind::Enquiry;
            enquiry.frameLength = 1;
            out.append(enquiry);
        } else {
            ++ignored_;
        }
        return;
    case State::InFrame:
        if (c == PortCodec::STX) { // resynchronise: the frame so far was broken
            drop();
            frame_.append(c);
            state_ = State::InFrame;
            return;
        }
        frame_.append(c);
        if (c == PortCodec::ETX)
            state_ = State::InSum;
        else if (frame_.size() > MaxFrameLength - 3) // no room left for ETX and the sum
            drop();
        return;
    case State::InSum:
        frame_.append(c);
        if (++sumChars_ == 2) {
            out.append(decodeRequestFrame(frame_));
            reset();
        }
        return;
    }
}
