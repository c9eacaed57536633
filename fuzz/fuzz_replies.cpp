// Replies: one request of a chosen kind is in flight (a block read of any
// register type, a force, a word write, a D_bit read-before-write pair) and
// arbitrary bytes come back through DataCom, again and again.
//
// Input: kind, register choice, address and count bytes, BlockSize and
// RetryLimit bytes, a data byte for writes, then replies, each a length byte
// followed by its bytes.
//
// Checks after every reply: the result is one of DataCom's codes; the image
// changed only inside the request's own area; an accepted data reply stored
// exactly its decoded bytes; the completed write half of a D_bit pair is a
// 15-byte frame with a correct sum carrying the read word with the bit
// applied; a frame handed out always has SendLength equal to its size.

#include "core/driver_probe.h"
#include "fuzz_input.h"
#include "image_areas_oracle.h"
#include "protocol/frame_codec.h"
#include "registers/register_types.h"

#include <QByteArray>

#include <cstring>
#include <memory>

namespace {

int callbacks = 0;
void countCallback(qint32, qint32, qint32, qint32 status)
{
    FUZZ_CHECK(status == CompletionGood || status == CompletionGivenUp);
    ++callbacks;
}

bool isDataComResult(qint32 r)
{
    return r == ReplyAccepted || r == ReplyResend || (r >= 11 && r <= 22) || (r >= 41 && r <= 52)
        || (r >= 71 && r <= 82);
}

// The fuzz target's own reading of a hex character (the reply rule): below
// '0' 0, '0'..'?' 0..15, '@' 0, above '@' (c - 55) mod 16.
int hexValue(quint8 c)
{
    if (c < '0' || c == '@')
        return 0;
    if (c <= '?')
        return c - '0';
    return (c - 55) % 16;
}
quint8 replyByte(const QByteArray& reply, int at)
{
    return static_cast<quint8>(16 * hexValue(static_cast<quint8>(reply[at]))
                               + hexValue(static_cast<quint8>(reply[at + 1])));
}

struct Request {
    VarItem item;
    bool isRead = false;
    bool isBitOfWord = false;
};

// A request inside the contract: addresses inside the type's range, counts
// that fit the area and the line's byte count field.
Request chooseRequest(FuzzInput& in, qint32 blockSize)
{
    Request r;
    VarItem& item = r.item;
    item.HostId = in.pick(14) - 1; // -1..12: the code offset rule
    item.HostSubId = 7;
    switch (in.pick(4)) {
    case 0: { // a block read, as the read list delivers it
        const RegisterTypeInfo& info = registerTypeTable()[in.pick(RegisterTypeCount)];
        item.RegName = QString::fromLatin1(info.name);
        item.OpKind = OpKindRead;
        r.isRead = true;
        if (info.readGroup == ReadGroup::Bits) {
            const qint32 bytesInRange = (info.registerCount + 7) / 8;
            const qint32 firstByte = in.u16() % bytesInRange;
            item.Addr = firstByte * 8;
            item.Count = 1 + in.u8() % qMin(blockSize, bytesInRange - firstByte);
        } else {
            const qint32 words = info.type == RegisterType::DBit ? 8000 : info.registerCount;
            item.Addr = in.u16() % words;
            const qint32 room = info.type == RegisterType::CV32 ? words - item.Addr + 1
                                                                 : words - item.Addr;
            item.Count = 1 + in.u8() % qMin(blockSize, room);
        }
        break;
    }
    case 1: { // a force
        static const char* const names[] = {"Y", "M", "SM", "S", "T", "C"};
        item.RegName = QString::fromLatin1(names[in.pick(6)]);
        item.OpKind = OpKindWrite;
        item.Addr = in.u16() % findRegisterType(item.RegName)->registerCount;
        item.Count = 1;
        item.Data = QByteArray(1, static_cast<char>(in.u8()));
        break;
    }
    case 2: { // a word write
        static const char* const names[] = {"D", "SD", "TV", "CV", "32CV"};
        item.RegName = QString::fromLatin1(names[in.pick(5)]);
        item.OpKind = OpKindWrite;
        const qint32 n = findRegisterType(item.RegName)->registerCount;
        item.Addr = in.u16() % n;
        const bool counters = item.RegName == QLatin1String("32CV");
        const qint32 room = counters ? 2 * (n - item.Addr) : n - item.Addr;
        item.Count = 1 + in.u8() % qMin(qMin(blockSize, room), 127);
        item.Data = in.bytes();
        break;
    }
    default: // one bit of a data register
        item.RegName = QStringLiteral("D_bit");
        item.OpKind = OpKindWrite;
        const quint32 high = in.u16();
        item.Addr = static_cast<qint32>((high << 1 | in.u8() % 2) % 128000);
        item.Count = 1;
        item.Data = QByteArray(1, static_cast<char>(in.u8() % 3));
        r.isBitOfWord = true;
        break;
    }
    return r;
}

void queue(Tavrin& driver, const Request& r)
{
    if (r.isRead)
        driver.AddListReadVar(r.item);
    else
        driver.AddListWriteVar(r.item);
}

// An accepted data reply to a read stored its bytes into the item's area.
void checkDecoded(const RegisterImage& image, const RequestFrame& frame, const QByteArray& reply)
{
    const VarItem& item = frame.Item;
    const RegisterTypeInfo* info = findRegisterType(item.RegName);
    FUZZ_CHECK(info != nullptr);
    const int chars = frame.DataChars;
    if (info->readGroup == ReadGroup::Bits) {
        const AreaSpan area = areaSpan(image, item.RegName);
        for (int j = 0; j < chars / 2; ++j)
            FUZZ_CHECK(area.begin[item.Addr / 8 + j] == replyByte(reply, 1 + 2 * j));
    } else if (info->type == RegisterType::CV32) {
        for (int j = 0; j < chars / 8; ++j) {
            quint32 value = 0;
            for (int b = 0; b < 4; ++b)
                value |= static_cast<quint32>(replyByte(reply, 1 + 8 * j + 2 * b)) << (8 * b);
            const AreaSpan area = areaSpan(image, item.RegName);
            FUZZ_CHECK(std::memcmp(area.begin + 4 * (item.Addr + j), &value, 4) == 0);
        }
    } else {
        const auto* words = reinterpret_cast<const quint16*>(areaSpan(image, item.RegName).begin);
        for (int j = 0; j < chars / 4; ++j) {
            const quint16 value = static_cast<quint16>(replyByte(reply, 1 + 4 * j)
                                                       | replyByte(reply, 3 + 4 * j) << 8);
            FUZZ_CHECK(words[item.Addr + j] == value);
        }
    }
}

// The write half of a D_bit pair, completed after its read was answered.
void checkCompletedPair(const TavrinProbe& probe, const VarItem& writeItem)
{
    FUZZ_CHECK(probe.headFrame() != nullptr);
    const RequestFrame& second = *probe.headFrame();
    const QByteArray& f = second.FrameBytes;
    FUZZ_CHECK(f.size() == 15 && second.SendLength == 15);
    FUZZ_CHECK(f[0] == 0x02 && f[1] == '1' && f[12] == 0x03);
    const RegisterImage image = probe.image();
    const auto* d = reinterpret_cast<const quint16*>(areaSpan(image, QStringLiteral("D")).begin);
    quint16 word = d[writeItem.Addr / 16];
    const quint16 mask = static_cast<quint16>(1u << (writeItem.Addr % 16));
    if (writeItem.Data[0] == 1)
        word |= mask;
    else if (writeItem.Data[0] == 0)
        word &= static_cast<quint16>(~mask);
    char expected[4];
    putHexByte(expected, static_cast<quint8>(word & 0xFF));
    putHexByte(expected + 2, static_cast<quint8>(word >> 8));
    FUZZ_CHECK(f.mid(8, 4) == QByteArray(expected, 4));
    unsigned sum = 0;
    for (int i = 1; i <= 12; ++i)
        sum += static_cast<quint8>(f[i]);
    char sumChars[2];
    putHexByte(sumChars, static_cast<quint8>(sum & 0xFF));
    FUZZ_CHECK(f.mid(13, 2) == QByteArray(sumChars, 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    qint32 comInfo[ComInfoWord::Count] = {};
    const qint32 blockSize = 1 + in.u8() % 64;
    comInfo[ComInfoWord::BlockSize] = blockSize;
    comInfo[ComInfoWord::RetryLimit] = in.u8() % 4;
    const Request request = chooseRequest(in, blockSize);

    auto driver = std::make_unique<Tavrin>();
    const TavrinProbe probe(*driver);
    driver->SetComInfo(comInfo);
    callbacks = 0;
    driver->RegistCallBackFuncIntf(countCallback, 0);
    queue(*driver, request);

    for (int round = 0; round < 64 && !in.atEnd(); ++round) {
        const RegisterImage before = probe.image();
        RequestFrame* frame = driver->ComCommunication();
        if (!frame) { // a write ended: offer it again
            FUZZ_CHECK(probe.frameQueueSize() == 0);
            queue(*driver, request);
            continue;
        }
        FUZZ_CHECK(frame == probe.headFrame());
        FUZZ_CHECK(frame->SendLength == frame->FrameBytes.size());
        const RequestFrame head = *frame; // DataCom may destroy it
        const int queued = probe.frameQueueSize();

        QByteArray reply = in.bytes();
        const qint32 result = driver->DataCom(reply);
        FUZZ_CHECK(isDataComResult(result));
        const RegisterImage after = probe.image();
        FUZZ_CHECK(changedOnlyIn(before, after, {request.item.RegName}));
        if (result == ReplyResend)
            FUZZ_CHECK(probe.frameQueueSize() == queued);
        else if (result != ReplyAccepted)
            FUZZ_CHECK(probe.frameQueueSize() == 0);
        if (result == ReplyAccepted && head.DataChars > 0)
            checkDecoded(after, head, reply);
        if (result == ReplyAccepted && head.Item.OpKind == OpKindReadBeforeWrite)
            checkCompletedPair(probe, request.item);
        FUZZ_CHECK(probe.isListMutexFree());
        FUZZ_CHECK(probe.isImageMutexFree());
    }
    return 0;
}
