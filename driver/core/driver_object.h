#pragma once

// The driver object: all run-time state of the module. The module keeps one
// static instance (see entry_points.cpp) behind the exported functions; tests
// construct their own. Only the default constructor is exported.

#include "core/com_info_block.h"
#include "core/owning_list.h"
#include "image/register_image.h"
#include "tavrin.h"

#include <QMutex>

#include <atomic>

using VarItemList = OwningList<VarItem>;
using FrameQueueList = OwningList<RequestFrame>;

// ListKind values: which list the item in flight came from.
namespace ListKindValue {
constexpr qint32 Read = 0;
constexpr qint32 Write = 1;
constexpr qint32 OnceRead = 2;
constexpr qint32 None = 100; // before the first item is taken
} // namespace ListKindValue

// Most items WriteVarList and OnceReadVarList hold; further items are dropped.
constexpr int PendingListLimit = 1024;

class Tavrin {
public:
    TAVRIN_EXPORT Tavrin();
    ~Tavrin();
    Tavrin(const Tavrin&) = delete;
    Tavrin& operator=(const Tavrin&) = delete;

    // --- Set-up (driver_object.cpp)
    void SetComInfo(qint32* comInfo);
    void FlashLocalRegister(qint32 arg1, qint32 arg2, qint32 arg3);
    void RegistCallBackFuncIntf(HostCallback callback, qint32 context);

    // --- Variable lists (variable_lists.cpp)
    qint32 AddListReadVar(const VarItem& item);
    qint32 AddListWriteVar(const VarItem& item);
    qint32 AddListOnceReadVar(VarItem& item);

    // --- Read list rebuilding (read_list_rebuild.cpp)
    qint32 ReCreatReadVarList(const QList<HostVarDef>& vars);

    // --- Request cycle (request_cycle.cpp)
    RequestFrame* ComCommunication();
    qint32 DataCom(const QByteArray& reply);

    // --- Host data access (image/host_data_access.cpp)
    qint32 GetRegisterData(const QString& regName, qint32 index, qint32 station,
                           QByteArray& values, qint32 count);
    qint32 SetRegisterData(const QString& regName, qint32 index, qint32 station,
                           const QByteArray& values, qint32 count);
    void UpdateImage(const VarItem& item);

    // --- Frames (protocol/frame_queue.cpp). Caller holds ListMutex.
    void AppendFrame(RequestFrame&& frame);
    // Tells ComInfo that a transaction of `frames` queued frames begins.
    void OpenTransaction(qint32 frames);

    // --- Read requests (protocol/read_requests.cpp). Caller holds ListMutex.
    void BuildReadRequest(const VarItem& item);
    void BuildBitRead(const VarItem& item);
    void BuildWordRead(const VarItem& item);

    // --- Write requests (protocol/write_requests.cpp). Caller holds ListMutex.
    void BuildWriteRequest(const VarItem& item);
    void BuildForce(const VarItem& item);
    void BuildWordWrite(const VarItem& item);
    void BuildBitOfWordWrite(const VarItem& item);

    // --- Reply checking (image/reply_validation.cpp). Communication thread only.
    qint32 ValidateReply(const QByteArray& reply, qint32 length);
    void DecodeReply(const QByteArray& reply); // caller holds ImageMutex

    // Effective BlockSize: the host's value, or 1 when it is 0 or negative
    // (outside the contract; it divides). See docs/robustness.md.
    qint32 blockSize() const;

    // An item the driver makes itself (a cyclic read block, a queued write
    // piece): HostId 0, HostSubId -1, `opKind`, the item parameters of ComInfo.
    VarItem driverItem(qint32 opKind) const;

    // --- State, in the order of the driver object's fields
    qint32 LocalRegisterArg1 = 0;
    qint32 LocalRegisterArg2 = 0;
    qint32 LocalRegisterArg3 = 0;
    ComInfoBlock ComInfo;
    VarItemList ReadVarList;
    VarItemList WriteVarList;
    VarItemList OnceReadVarList;
    FrameQueueList FrameQueue;
    QMutex ListMutex;  // the three lists and frame building; taken before ImageMutex
    QMutex ImageMutex; // the image areas
    qint32 ListKind = ListKindValue::None;
    qint32 WriteRun = 0;
    qint32 OnceRun = 0;
    qint32 ScanCount = 0;
    std::atomic<quint8> CommFailed{0}; // read without a lock by host threads
    HostCallback Callback = nullptr;    // the host's completion notice (HostCallback)
    qint32 CallbackContext = 0;
    RegisterImage Image;

private:
    void ListStep();
    void NotifyCompletion(const VarItemList& list);
};
