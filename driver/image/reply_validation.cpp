// Judging a reply against the request at the head of FrameQueue, and storing
// the data of an accepted data reply into the image.

#include "core/driver_object.h"
#include "image/image_areas.h"
#include "image/reply_check.h"
#include "image/reply_decoders.h"
#include "protocol/frame_codec.h"

#include <QMutexLocker>
#include <algorithm>

namespace {

// Error codes name the host item through an offset: its HostId when it lies
// in 0..11, else 0 (HostId 3 gives 14, 44, 74; HostId 12 or -1 gives 11, 41, 71).
qint32 codeOffset(qint32 hostId)
{
    return hostId >= 0 && hostId <= 11 ? hostId : 0;
}

// The first write item, as the second half of a D_bit pair needs it.
struct PairTarget {
    bool present = false;
    qint32 addr = 0; // D_bit index: the bit is addr mod 16
    bool hasData = false;
    quint8 firstByte = 0; // 1 sets the bit, 0 clears it, other values keep it
};

// Copied under ListMutex, which is released again before ImageMutex is
// taken: the order ListMutex before ImageMutex holds, and no lock is held
// while waiting for the other. The item cannot leave the list meanwhile
// (only the communication thread removes items), but other threads may be
// appending to the list.
PairTarget copyPairTarget(Tavrin& driver)
{
    PairTarget target;
    QMutexLocker lock(&driver.ListMutex);
    if (driver.WriteVarList.isEmpty())
        return target;
    const VarItem& item = driver.WriteVarList.first();
    target.present = true;
    target.addr = item.Addr;
    target.hasData = !item.Data.isEmpty();
    target.firstByte = target.hasData ? static_cast<quint8>(item.Data.at(0)) : 0;
    return target;
}

quint16 applyPairBit(quint16 word, const PairTarget& target)
{
    const int bit = target.addr % 16;
    // Write items carry non-negative indexes; for a negative one (whose
    // remainder would be negative) the word goes back as it was read.
    if (!target.present || !target.hasData || bit < 0)
        return word;
    const auto mask = static_cast<quint16>(1u << bit);
    if (target.firstByte == 1)
        return static_cast<quint16>(word | mask);
    if (target.firstByte == 0)
        return static_cast<quint16>(word & ~mask);
    return word;
}

// The write half of a D_bit pair, built as "1" address count "0000" ETX "00":
// the word goes at 8..11 (low byte first), the sum over 1..12 at 13..14.
void completePairWrite(RequestFrame& writeHalf, quint16 word)
{
    constexpr int PairWriteLength = 15;
    constexpr int DataIndex = 8;
    constexpr int EtxIndex = 12;
    QByteArray& frame = writeHalf.FrameBytes;
    if (frame.size() < PairWriteLength)
        return; // not a frame this driver built: left as it is
    frame.truncate(PairWriteLength);
    char* bytes = frame.data();
    putHexByte(bytes + DataIndex, static_cast<quint8>(word & 0xFF));
    putHexByte(bytes + DataIndex + 2, static_cast<quint8>(word >> 8));
    putHexByte(bytes + EtxIndex + 1, frameSumCheck(frame, EtxIndex));
}

bool isPairReadHalf(const Tavrin& driver, const RequestFrame& head)
{
    const RegisterTypeInfo* info = findRegisterType(head.Item.RegName);
    return info && info->type == RegisterType::DBit && head.Item.OpKind == OpKindReadBeforeWrite
           && driver.FrameQueue.size() >= 2;
}

} // namespace

qint32 Tavrin::ValidateReply(const QByteArray& reply, qint32 length)
{
    // Nothing in flight (DataCom without a request, outside the contract):
    // the no-reply code, and nothing changes.
    if (FrameQueue.isEmpty())
        return ReplyMissing;
    const RequestFrame& head = FrameQueue.first();
    const qint32 offset = codeOffset(head.Item.HostId);
    // Only bytes the reply really holds are judged: the caller's length, but
    // never more than the array's size.
    const qint64 available = std::min<qint64>(length, reply.size());
    if (available == 0 && head.ReplyLength != 0)
        return ReplyMissing + offset;
    if (available != head.ReplyLength)
        return ReplyWrongLength + offset;

    switch (CheckFrame(reply, head.ReplyLength)) {
    case CheckFrameAck:
        return ReplyAccepted;
    case CheckFrameData:
        break;
    default:
        return ReplyBadFrame + offset;
    }

    const QByteArray judged = available < reply.size()
                                  ? QByteArray::fromRawData(reply.constData(), head.ReplyLength)
                                  : reply;
    const bool pair = isPairReadHalf(*this, head);
    const PairTarget target = pair ? copyPairTarget(*this) : PairTarget{};

    QMutexLocker lock(&ImageMutex);
    DecodeReply(judged);
    if (pair)
        completePairWrite(FrameQueue.at(1), applyPairBit(lastReplyWord(judged, head), target));
    return ReplyAccepted;
}

void Tavrin::DecodeReply(const QByteArray& reply)
{
    if (FrameQueue.isEmpty())
        return;
    const RequestFrame& head = FrameQueue.first();
    decodeIntoArea(imageAreaOf(Image, head.Item.RegName), reply, head);
}
