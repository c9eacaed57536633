// The request cycle the host drives from its communication thread:
// ComCommunication says what to send next, DataCom judges the reply, resends
// or gives up, and ends the transaction of the item in flight.

#include "core/driver_object.h"

#include <QMutexLocker>

#include <algorithm>
#include <limits>

namespace {

// Items taken from one pending list in a row before the next list gets a
// turn: "at most 4" before taking means 5 in a row.
constexpr qint32 kLastRunBeforeTurn = 4;

constexpr qint64 kMaxReplyLength = std::numeric_limits<qint32>::max();
constexpr qint64 kMaxCounter = std::numeric_limits<qint32>::max();

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
    comInfo.set(word, static_cast<qint32>(std::min(value, kMaxCounter)));
    return value;
}

// A transaction ended well. Once more transactions have ended well than the
// cyclic list holds blocks (3 blocks: the 4th), the scan is complete.
void countTowardScan(Tavrin& driver)
{
    if (driver.ComInfo.get(ComInfoWord::ScanComplete) != 0)
        return;
    ++driver.ScanCount;
    if (driver.ScanCount > driver.ReadVarList.size()) {
        driver.ScanCount = 0;
        driver.ComInfo.set(ComInfoWord::ScanComplete, 1);
    }
}

} // namespace

RequestFrame* Tavrin::ComCommunication()
{
    // A resend, or the next frame of a transaction.
    if (!FrameQueue.isEmpty())
        return &FrameQueue.first();

    QMutexLocker lock(&ListMutex);
    if (!WriteVarList.isEmpty() && WriteRun <= kLastRunBeforeTurn) {
        ListKind = ListKindValue::Write;
        BuildWriteRequest(WriteVarList.first());
        ++WriteRun;
    } else if (!OnceReadVarList.isEmpty() && OnceRun <= kLastRunBeforeTurn) {
        ListKind = ListKindValue::OnceRead;
        BuildReadRequest(OnceReadVarList.first());
        ++OnceRun;
    } else if (!ReadVarList.isEmpty()) {
        ListKind = ListKindValue::Read;
        BuildReadRequest(ReadVarList.first());
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

    // A reply longer than 32 bits can count is cut to what the length can say.
    const qint32 length = static_cast<qint32>(std::min<qint64>(reply.size(), kMaxReplyLength));
    const qint32 verdict = ValidateReply(reply, length);
    if (verdict == ReplyAccepted) {
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
        countTowardScan(*this);
        ListStep();
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
    ListStep();
    return verdict;
}

// The item in flight leaves its pending list, with a notice, or the cyclic
// block goes to the end of the ring. Caller holds ListMutex.
void Tavrin::ListStep()
{
    switch (ListKind) {
    case ListKindValue::Write:
        NotifyCompletion(WriteVarList);
        WriteVarList.removeFirst();
        break;
    case ListKindValue::OnceRead:
        NotifyCompletion(OnceReadVarList);
        OnceReadVarList.removeFirst();
        break;
    case ListKindValue::Read:
        ReadVarList.rotateFirstToEnd();
        break;
    default:
        break;
    }
}

// Tells the host that the first item's request has ended, unless a later
// item of the same variable (another block of the request, or a later write)
// is still pending: that one will tell. Caller holds ListMutex.
void Tavrin::NotifyCompletion(const VarItemList& list)
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
