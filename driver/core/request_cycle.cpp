// The request cycle the host drives from its communication thread:
// ComCommunication says what to send next, DataCom judges the reply, resends
// or gives up, and ends the transaction of the item in flight.

#include "core/driver_object.h"
#include "image/reply_decoders.h"
#include "protocol/read_requests.h"
#include "protocol/reply_check.h"
#include "protocol/write_requests.h"

#include <QMutexLocker>

#include <algorithm>
#include <limits>
#include <optional>

namespace {

// Items taken from one pending list in a row before the next list gets a
// turn: "at most 4" before taking means 5 in a row.
constexpr qint32 LastRunBeforeTurn = 4;

constexpr qint64 MaxCounter = std::numeric_limits<qint32>::max();

// The early paths of DataCom pass through the list lock, so that every
// DataCom waits for a list operation of another thread to finish.
void passThrough(QMutex& mutex)
{
    mutex.lock();
    mutex.unlock();
}

// Adds one to a ComInfo counter and returns the new value, computed in 64
// bits: a host that left the word at 2,147,483,647 gets 2,147,483,648 back
// (the word itself stays at its maximum) instead of a wrap to a negative
// count. Without a block every word reads 0, so the result is 1.
qint64 countUp(ComInfoBlock& comInfo, int word)
{
    const qint64 value = qint64(comInfo.get(word)) + 1;
    comInfo.set(word, static_cast<qint32>(std::min(value, MaxCounter)));
    return value;
}

// Error codes name the host item through an offset: its HostId when it lies
// in 0..11, else 0 (HostId 3 gives 14, 44, 74; HostId 12 or -1 gives 11, 41, 71).
qint32 replyCode(ReplyVerdict verdict, qint32 hostId)
{
    const qint32 offset = hostId >= 0 && hostId <= 11 ? hostId : 0;
    switch (verdict) {
    case ReplyVerdict::Ack:
    case ReplyVerdict::Data:
        return ReplyAccepted;
    case ReplyVerdict::Missing:
        return ReplyMissing + offset;
    case ReplyVerdict::WrongLength:
        return ReplyWrongLength + offset;
    case ReplyVerdict::BadFrame:
        break;
    }
    return ReplyBadFrame + offset;
}

} // namespace

RequestFrame* Tavrin::ComCommunication()
{
    // A resend, or the next frame of a transaction.
    if (!FrameQueue.isEmpty())
        return &FrameQueue.first();

    QMutexLocker lock(&ListMutex);
    if (!WriteVarList.isEmpty() && WriteRun <= LastRunBeforeTurn) {
        ListKind = VarListKind::Write;
        queueWrite(WriteVarList.first());
        ++WriteRun;
    } else if (!OnceReadVarList.isEmpty() && OnceRun <= LastRunBeforeTurn) {
        ListKind = VarListKind::OnceRead;
        queueRequests(BuildReadRequest(OnceReadVarList.first()));
        ++OnceRun;
    } else if (!ReadVarList.isEmpty()) {
        ListKind = VarListKind::Read;
        queueRequests(BuildReadRequest(ReadVarList.first()));
        WriteRun = 0;
        OnceRun = 0;
    } else {
        // Nothing to poll: the runs restart and the scan counts as complete.
        WriteRun = 0;
        OnceRun = 0;
        ComInfo.set(ComInfoWord::ScanComplete, 1);
    }
    // An item no builder knows (or a write to X) queues nothing and stays first.
    return FrameQueue.isEmpty() ? nullptr : &FrameQueue.first();
}

qint32 Tavrin::DataCom(const QByteArray& reply)
{
    // Nothing in flight (outside the contract): report the no-reply code and
    // change nothing, neither the retry count nor any list.
    if (FrameQueue.isEmpty())
        return ReplyMissing;

    const qint32 code = ValidateReply(reply);
    if (code == ReplyAccepted) {
        CommFailed = 0;
        FrameQueue.removeFirst();
        const qint64 answered = countUp(ComInfo, ComInfoWord::FramesAnswered);
        if (answered < ComInfo.get(ComInfoWord::FramesQueued)) {
            passThrough(ListMutex); // the transaction goes on with its next frame
            return ReplyAccepted;
        }
        QMutexLocker lock(&ListMutex);
        // Counted under the list lock: a rebuild on another thread resets
        // ScanCount and changes the list size.
        countTowardScan();
        listStep();
        return ReplyAccepted;
    }

    ComInfo.set(ComInfoWord::ScanComplete, 0);
    // Failed replies add up across requests: a good reply does not reset the count.
    const bool givenUp =
        countUp(ComInfo, ComInfoWord::RetryCount) > ComInfo.get(ComInfoWord::RetryLimit);
    if (givenUp) {
        ComInfo.set(ComInfoWord::RetryCount, 0);
        FrameQueue.clear();
        CommFailed = 1;
    }
    QMutexLocker lock(&ListMutex);
    // ScanCount under the list lock: a rebuild on another thread resets it too.
    ScanCount = 0;
    if (!givenUp)
        return ReplyResend; // the head frame stays queued and is sent again
    listStep();
    return code;
}

// The item in flight leaves its pending list, with a notice, or the cyclic
// block goes to the end of the ring. Caller holds ListMutex.
void Tavrin::listStep()
{
    switch (ListKind) {
    case VarListKind::Write:
        notifyCompletion(WriteVarList);
        WriteVarList.removeFirst();
        break;
    case VarListKind::OnceRead:
        notifyCompletion(OnceReadVarList);
        OnceReadVarList.removeFirst();
        break;
    case VarListKind::Read:
        ReadVarList.rotateFirstToEnd();
        break;
    case VarListKind::None:
        break;
    }
}

// Tells the host that the first item's request has ended, unless a later
// item of the same variable (another block of the request, or a later write)
// is still pending: that one will tell. Caller holds ListMutex.
void Tavrin::notifyCompletion(const VarItemList& list)
{
    if (list.isEmpty())
        return;
    const VarItem& head = list.first();
    for (int i = 1; i < list.size(); ++i) {
        const VarItem& later = list.at(i);
        if (later.HostId == head.HostId && later.HostSubId == head.HostSubId)
            return;
    }
    // The host must register its callback first; without one the notice is skipped.
    if (!Callback)
        return;
    const qint32 status = CommFailed ? CompletionGivenUp : CompletionGood;
    Callback(ComInfo.get(ComInfoWord::CallbackTag), head.HostId, head.HostSubId, status);
}

// A transaction ended well. Once more transactions have ended well than the
// cyclic list holds blocks (3 blocks: the 4th), the scan is complete.
// Caller holds ListMutex.
void Tavrin::countTowardScan()
{
    if (ComInfo.get(ComInfoWord::ScanComplete) != 0)
        return;
    ++ScanCount;
    if (ScanCount > ReadVarList.size()) {
        ScanCount = 0;
        ComInfo.set(ComInfoWord::ScanComplete, 1);
    }
}

// The frames built for the item in flight go to the end of FrameQueue, and
// the transaction begins: FramesAnswered 0 of FramesQueued (1, or 2 for a
// D_bit pair). A builder that made no frame changes nothing.
void Tavrin::queueRequests(RequestFrames frames)
{
    if (frames.empty())
        return;
    const auto count = static_cast<qint32>(frames.size());
    for (RequestFrame& frame : frames)
        AppendFrame(std::move(frame));
    ComInfo.set(ComInfoWord::FramesAnswered, 0);
    ComInfo.set(ComInfoWord::FramesQueued, count);
}

void Tavrin::AppendFrame(RequestFrame&& frame)
{
    FrameQueue.append(std::move(frame));
}

// The write dispatch. The image shows the written value at once, before the
// ACK (X included, which has no request). A D_bit write shows at the next
// read of its word instead; while the PLC is not answering, SetRegisterData
// stores its items itself.
void Tavrin::queueWrite(const VarItem& item)
{
    queueRequests(BuildWriteRequest(item));
    const RegisterTypeInfo* type = findRegisterType(item.RegName);
    if (CommFailed.load() == 0 && !(type && type->write == WriteCommand::BitOfWordPair))
        UpdateImage(item);
}

// Judges the reply against the head frame and, for a data reply, stores its
// data. Communication thread; FrameQueue is not empty.
qint32 Tavrin::ValidateReply(const QByteArray& reply)
{
    const RequestFrame& head = FrameQueue.first();
    const ReplyVerdict verdict = checkReply(head, reply);
    if (verdict == ReplyVerdict::Data)
        storeReplyData(head, reply);
    return replyCode(verdict, head.Item.HostId);
}

bool Tavrin::isPairReadHalf(const RequestFrame& head) const
{
    const RegisterTypeInfo* type = findRegisterType(head.Item.RegName);
    return type && type->write == WriteCommand::BitOfWordPair
           && head.Item.OpKind == OpKindReadBeforeWrite && FrameQueue.size() >= 2;
}

// Decodes the reply into the image under ImageMutex, so that a host never
// reads half a block. The read half of a D_bit pair also completes the write
// half queued behind it, from the first write item, which is copied under
// ListMutex and released again before ImageMutex is taken: the lock order
// holds and no lock waits for the other. The item cannot leave the list
// meanwhile (only this thread removes items), but other threads may append.
void Tavrin::storeReplyData(const RequestFrame& head, const QByteArray& reply)
{
    const bool pair = isPairReadHalf(head);
    std::optional<VarItem> firstWrite;
    if (pair) {
        QMutexLocker lock(&ListMutex);
        if (!WriteVarList.isEmpty())
            firstWrite = WriteVarList.first();
    }
    {
        QMutexLocker lock(&ImageMutex);
        DecodeReply(Image, head, reply);
    }
    if (pair) {
        const quint16 read = lastReplyWord(head, reply);
        RequestFrame& writeHalf = FrameQueue.at(1);
        writeHalf.FrameBytes = completeBitOfWordWrite(
            writeHalf.FrameBytes, firstWrite ? applyWriteBit(read, *firstWrite) : read);
    }
}
