#pragma once

// The driver object: all run-time state of the module, private, behind the
// host's entry points. The module keeps one static instance (see
// entry_points.cpp); tests construct their own. Only the default constructor
// is exported. Frames come from the protocol's builders and replies go into
// the image through its decoders; the object owns the lists, the frame queue
// and the request cycle that joins them.

#include "core/com_info_block.h"
#include "core/variable_lists.h"
#include "image/register_image.h"
#include "protocol/request_record.h"
#include "tavrin.h"

#include <QMutex>

#include <atomic>

// Which list the item in flight came from (the driver object's ListKind).
enum class VarListKind : qint32 {
    Read = 0,     // ReadVarList, the cyclic read blocks
    Write = 1,    // WriteVarList
    OnceRead = 2, // OnceReadVarList
    None = 100,   // before the first item is taken
};

// The constructor is exported by its decorated name. On Windows a dllexport
// attribute would export its base-object form (_ZN6TavrinC2Ev) beside the
// complete-object one that a host calls, so there the module-definition file
// core/tavrin.def names _ZN6TavrinC1Ev alone.
#if defined(_WIN32)
#  define TAVRIN_CONSTRUCTOR_EXPORT
#else
#  define TAVRIN_CONSTRUCTOR_EXPORT TAVRIN_EXPORT
#endif

class Tavrin {
public:
    TAVRIN_CONSTRUCTOR_EXPORT Tavrin();
    ~Tavrin();
    Tavrin(const Tavrin&) = delete;
    Tavrin& operator=(const Tavrin&) = delete;

    // --- Set-up (driver_object.cpp)
    void SetComInfo(qint32* comInfo);
    void FlashLocalRegister(qint32 arg1, qint32 arg2, qint32 arg3);
    void RegistCallBackFuncIntf(HostCallback callback, qint32 context);

    // --- Variable lists (variable_lists.cpp, read_list_rebuild.cpp)
    qint32 AddListReadVar(const VarItem& item);
    qint32 AddListWriteVar(const VarItem& item);
    qint32 AddListOnceReadVar(VarItem& item);
    qint32 ReCreatReadVarList(const QList<HostVarDef>& vars);

    // --- Request cycle (request_cycle.cpp), the host's communication thread
    RequestFrame* ComCommunication();
    qint32 DataCom(const QByteArray& reply);

    // --- Host data access (host_data_access.cpp), any host thread
    qint32 GetRegisterData(const QString& regName, qint32 index, qint32 station,
                           QByteArray& values, qint32 count);
    qint32 SetRegisterData(const QString& regName, qint32 index, qint32 station,
                           const QByteArray& values, qint32 count);

private:
    friend class TavrinProbe; // read-only looks for test programs and fuzz targets

    // Request cycle steps. Caller holds ListMutex.
    void queueRequests(RequestFrames frames);
    void queueWrite(const VarItem& item);
    void AppendFrame(RequestFrame&& frame);
    void listStep();
    void notifyCompletion(const VarItemList& list);
    void countTowardScan();

    // Reply steps, communication thread.
    qint32 ValidateReply(const QByteArray& reply);
    void storeReplyData(const RequestFrame& head, const QByteArray& reply);
    bool isPairReadHalf(const RequestFrame& head) const;

    void UpdateImage(const VarItem& item);

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
    VarListKind ListKind = VarListKind::None;
    qint32 WriteRun = 0;
    qint32 OnceRun = 0;
    qint32 ScanCount = 0;
    std::atomic<quint8> CommFailed{0}; // read without a lock by host threads
    HostCallback Callback = nullptr;    // the host's completion notice (HostCallback)
    qint32 CallbackContext = 0;
    RegisterImage Image;
};
