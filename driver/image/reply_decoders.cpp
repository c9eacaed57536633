#include "image/reply_decoders.h"

#include <algorithm>

namespace {

// Value of a reply character as the decoders read it: below '0' gives 0,
// '0'..'?' give 0..15, '@' gives 0, above '@' gives (c - 55) mod 16, so
// 'A'..'F' and 'a'..'f' both give 10..15 (and 'G' gives 0).
quint8 characterValue(quint8 c)
{
    if (c < 48 || c == 64)
        return 0;
    if (c <= 63)
        return static_cast<quint8>(c - 48);
    return static_cast<quint8>((c - 55) % 16);
}

// Elements j of `width` characters that the reply holds whole: element j
// spans characters s + width*j .. s + width*j + width - 1, and only
// DataChars / width elements are asked for. Computed in 64 bits from the
// reply's real size, so a record with odd DataStart or DataChars never
// leads outside the reply.
struct ElementRange {
    qint64 begin = 0;
    qint64 end = 0;
};

ElementRange wholeElements(const QByteArray& reply, const RequestFrame& frame, qint64 width)
{
    const qint64 len = reply.size();
    const qint64 s = frame.DataStart;
    ElementRange range;
    range.begin = s < 0 ? (-s + width - 1) / width : 0;
    const qint64 fitting = len - s >= 0 ? (len - s) / width : 0;
    range.end = std::min<qint64>(frame.DataChars / width, fitting);
    return range;
}

quint8 byteAtChars(const QByteArray& reply, qint64 index)
{
    const char* c = reply.constData() + index;
    return static_cast<quint8>(16 * characterValue(static_cast<quint8>(c[0]))
                               + characterValue(static_cast<quint8>(c[1])));
}

quint16 wordAtChars(const QByteArray& reply, qint64 index)
{
    return static_cast<quint16>(byteAtChars(reply, index) | byteAtChars(reply, index + 2) << 8);
}

quint32 doubleWordAtChars(const QByteArray& reply, qint64 index)
{
    return quint32(wordAtChars(reply, index)) | quint32(wordAtChars(reply, index + 4)) << 16;
}

} // namespace

void DecodeBytes(const QByteArray& reply, const RequestFrame& frame, BitArea area)
{
    const ElementRange range = wholeElements(reply, frame, 2);
    const qint64 firstByte = frame.Item.Addr / 8;
    for (qint64 j = range.begin; j < range.end; ++j)
        putUnit(area, firstByte + j, byteAtChars(reply, frame.DataStart + 2 * j));
}

void DecodeWords(const QByteArray& reply, const RequestFrame& frame, WordArea area)
{
    const ElementRange range = wholeElements(reply, frame, 4);
    for (qint64 j = range.begin; j < range.end; ++j)
        putUnit(area, frame.Item.Addr + j, wordAtChars(reply, frame.DataStart + 4 * j));
}

void DecodeDoubleWords(const QByteArray& reply, const RequestFrame& frame, DoubleWordArea area)
{
    const ElementRange range = wholeElements(reply, frame, 8);
    for (qint64 j = range.begin; j < range.end; ++j)
        putUnit(area, frame.Item.Addr + j, doubleWordAtChars(reply, frame.DataStart + 8 * j));
}

void DecodeReply(RegisterImage& image, const RequestFrame& head, const QByteArray& reply)
{
    const ImageArea area = imageAreaOf(image, head.Item.RegName);
    // clang-format off
    switch (area.shape) {
    case AreaShape::PackedBits: DecodeBytes(reply, head, area.bits); break;
    case AreaShape::WordBits:
    case AreaShape::Words: DecodeWords(reply, head, area.words); break;
    case AreaShape::DoubleWords: DecodeDoubleWords(reply, head, area.doubleWords); break;
    case AreaShape::None: break;
    }
    // clang-format on
}

quint16 lastReplyWord(const RequestFrame& frame, const QByteArray& reply)
{
    const ElementRange range = wholeElements(reply, frame, 4);
    if (range.end <= range.begin)
        return 0;
    return wordAtChars(reply, frame.DataStart + 4 * (range.end - 1));
}
