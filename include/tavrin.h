#pragma once

// Public interface of the Tavrin module: the records the host shares with the
// driver and the plain entry points it resolves by name. The host owns the
// serial line and the ComInfo block; the driver decides what to send.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <cstddef>

#include "tavrin_export.h"

// Positions of the words the driver uses in the host's ComInfo block, an
// array of 32-bit signed integers owned by the host. Words 0 to 3 and 5
// belong to the host and are never touched.
namespace ComInfoWord {
constexpr int BlockSize = 4;       // largest request block: bytes (bit types) or 16-bit words
constexpr int StationNo = 6;       // station number given to the items the driver makes
constexpr int RetryLimit = 7;      // failed replies tolerated before a request is given up
constexpr int RetryCount = 8;      // failed replies counted so far (carried across requests)
constexpr int StationPerVar = 9;   // nonzero: one-shot and write items keep their own station
constexpr int ResetWordA = 10;     // zeroed by SetComInfo
constexpr int FramesQueued = 11;   // frames the transaction in flight consists of (1, or 2)
constexpr int FramesAnswered = 12; // good replies received in the transaction in flight
constexpr int ResetWordB = 13;     // zeroed by SetComInfo
constexpr int ItemParam1 = 14;     // copied into word 3 of the items the driver makes
constexpr int ItemParam2 = 15;     // copied into word 4 of the same items
constexpr int WriteMode = 16;      // 2: SetRegisterData queues writes; else image only
constexpr int ScanComplete = 17;   // 1 once a whole pass over the cyclic list ended well
constexpr int CallbackTag = 18;    // first argument of every completion notice
constexpr int Count = 19;          // the block must hold at least this many words
} // namespace ComInfoWord

// ComInfo WriteMode value that turns SetRegisterData writes into PLC requests.
constexpr qint32 WriteModeQueue = 2;

// VarItem OpKind values.
constexpr qint32 OpKindRead = 0;
constexpr qint32 OpKindWrite = 1;
constexpr qint32 OpKindReadBeforeWrite = 2; // read half of a D_bit write pair

// DataCom and reply-check results. The three failure codes get the item's
// HostId added when it lies in 0..11 (so 11..22, 41..52, 71..82).
constexpr qint32 ReplyAccepted = 1;
constexpr qint32 ReplyResend = 0;        // DataCom: failed reply, the frame will be resent
constexpr qint32 ReplyBadFrame = 11;     // NAK, bad STX/ETX or sum check
constexpr qint32 ReplyMissing = 41;      // nothing came back
constexpr qint32 ReplyWrongLength = 71;  // a reply of another length than expected

// Status argument of the completion notice.
constexpr qint32 CompletionGood = 1;
constexpr qint32 CompletionGivenUp = 2;

// One variable, request block or write item, in the host's layout: six
// integers, two strings, six integers, one byte array. Lists keep copies.
struct VarItem {
    qint32 HostId = 0;     // the host's id; second argument of the completion notice
    qint32 HostSubId = 0;  // third argument of the completion notice
    qint32 OpKind = 0;     // OpKindRead, OpKindWrite, OpKindReadBeforeWrite
    qint32 ItemParam1 = 0; // carried unchanged
    qint32 ItemParam2 = 0; // carried unchanged
    qint32 HostWord5 = 0;  // host data, carried unchanged
    QString RegName;       // "X", "Y", "M", "SM", "S", "T", "C", "D", "D_bit", "SD", "TV", "CV", "32CV"
    QString AddrText;      // the address as the host wrote it, carried unchanged
    qint32 HostWord8 = 0;  // host data, carried unchanged
    qint32 Addr = 0;       // register index of the first element
    qint32 StationNo = 0;  // station of the item
    qint32 Count = 0;      // number of elements (bytes for bit blocks, 16-bit words for word types)
    qint32 WorkA = 0;      // zeroed whenever the driver makes or queues an item
    qint32 WorkB = 0;      // as WorkA
    QByteArray Data;       // values to write, in the layout of the register type
};

// One queued request: the frame as it goes on the line, the shape of the
// reply it expects and a copy of the item it serves. The host reads the head
// record returned by ComCommunication, so the field order is fixed.
struct RequestFrame {
    QByteArray FrameBytes;  // STX .. last sum-check character
    qint32 SendLength = 0;  // bytes in FrameBytes
    qint32 ReplyLength = 0; // exact length of the expected reply
    qint32 DataStart = 0;   // index of the first data character in the reply
    qint32 DataChars = 0;   // data characters the reply carries
    VarItem Item;           // the item this request serves
    qint32 ReservedA = 0;
    qint32 ReservedB = 0;
    qint32 ReservedC = 0;
};

// The host's record of one configured variable, read by ReCreatReadVarList.
// Four strings and four 32-bit values in the host's layout; the driver reads
// AddrText, RegName, Length and Addr and changes nothing.
struct HostVarDef {
    QString HostText1;
    qint32 HostValue1 = 0;
    QString HostText2;
    QString AddrText;   // copied into the block's AddrText
    QString RegName;    // register type; chooses the block bucket
    qint32 Length = 0;  // elements of the type the variable covers
    qint32 HostValue2 = 0;
    qint32 Addr = 0;    // register index
};

// The host's own layout. Built for a 32-bit target with Qt 5 (as the host's
// runtime is), a QString or QByteArray is one pointer-sized handle and the
// records are exactly the host's: VarItem 60 bytes, HostVarDef 32, the
// request record 92. Elsewhere (64-bit, or Qt 6 with its three-word strings)
// the same declarations give that platform's natural layout.
#if QT_VERSION < 0x060000 && QT_POINTER_SIZE == 4
static_assert(sizeof(QString) == 4 && sizeof(QByteArray) == 4, "a string is one handle");
static_assert(sizeof(VarItem) == 60, "VarItem: 60 bytes in the host's layout");
static_assert(offsetof(VarItem, HostId) == 0 && offsetof(VarItem, HostSubId) == 4 &&
                  offsetof(VarItem, OpKind) == 8 && offsetof(VarItem, ItemParam1) == 12 &&
                  offsetof(VarItem, ItemParam2) == 16 && offsetof(VarItem, HostWord5) == 20,
              "VarItem: words 0 to 5 at bytes 0 to 23");
static_assert(offsetof(VarItem, RegName) == 24 && offsetof(VarItem, AddrText) == 28,
              "VarItem: the two strings at 24 and 28");
static_assert(offsetof(VarItem, HostWord8) == 32 && offsetof(VarItem, Addr) == 36 &&
                  offsetof(VarItem, StationNo) == 40 && offsetof(VarItem, Count) == 44 &&
                  offsetof(VarItem, WorkA) == 48 && offsetof(VarItem, WorkB) == 52,
              "VarItem: words 8 to 13 at bytes 32 to 55");
static_assert(offsetof(VarItem, Data) == 56, "VarItem: the byte array at 56");
static_assert(sizeof(HostVarDef) == 32, "HostVarDef: 32 bytes in the host's layout");
static_assert(offsetof(HostVarDef, HostText1) == 0 && offsetof(HostVarDef, HostValue1) == 4 &&
                  offsetof(HostVarDef, HostText2) == 8 && offsetof(HostVarDef, AddrText) == 12 &&
                  offsetof(HostVarDef, RegName) == 16 && offsetof(HostVarDef, Length) == 20 &&
                  offsetof(HostVarDef, HostValue2) == 24 && offsetof(HostVarDef, Addr) == 28,
              "HostVarDef: members at 0, 4, 8, 12, 16, 20, 24 and 28");
static_assert(sizeof(RequestFrame) == 92, "RequestFrame: 92 bytes in the host's layout");
static_assert(offsetof(RequestFrame, FrameBytes) == 0 && offsetof(RequestFrame, SendLength) == 4 &&
                  offsetof(RequestFrame, ReplyLength) == 8 &&
                  offsetof(RequestFrame, DataStart) == 12 &&
                  offsetof(RequestFrame, DataChars) == 16 && offsetof(RequestFrame, Item) == 20 &&
                  offsetof(RequestFrame, ReservedA) == 80 &&
                  offsetof(RequestFrame, ReservedB) == 84 && offsetof(RequestFrame, ReservedC) == 88,
              "RequestFrame: frame bytes, four integers, the item at 20, three reserved");
#endif

// Completion notice: CallbackTag, HostId, HostSubId, status (CompletionGood
// or CompletionGivenUp). Runs on the communication thread with the list
// lock held: it must not call AddListWriteVar, AddListOnceReadVar,
// ReCreatReadVarList, or SetRegisterData in queue mode.
typedef void (*HostCallback)(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status);

// The entry points take and return Qt types by design: the host is a Qt
// application and resolves these names at run time.
#if defined(__clang__)
#  pragma clang diagnostic push
#  pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" {
// Set-up
TAVRIN_EXPORT void SetComInfo(qint32* comInfo);
TAVRIN_EXPORT void FlashLocalRegister(qint32 arg1, qint32 arg2, qint32 arg3);
TAVRIN_EXPORT void RegistCallBackFuncIntf(HostCallback callback, qint32 context);

// Variable lists
TAVRIN_EXPORT qint32 AddListReadVar(const VarItem& item);
TAVRIN_EXPORT qint32 AddListWriteVar(const VarItem& item);
TAVRIN_EXPORT qint32 AddListOnceReadVar(VarItem& item);
TAVRIN_EXPORT qint32 ReCreatReadVarList(const QList<HostVarDef>& vars);

// Request cycle (host's communication thread)
TAVRIN_EXPORT RequestFrame* ComCommunication();
TAVRIN_EXPORT qint32 DataCom(QByteArray& reply);

// Values (any host thread)
TAVRIN_EXPORT qint32 GetRegisterData(const QString& regName, qint32 index, qint32 station,
                                     QByteArray& values, qint32 count);
TAVRIN_EXPORT qint32 SetRegisterData(const QString& regName, qint32 index, qint32 station,
                                     const QByteArray& values, qint32 count);

// Configuration tools (pure, any thread, also before SetComInfo)
TAVRIN_EXPORT qint32 AddrStringToInt(const QString& regName, const QString& addrText);
TAVRIN_EXPORT QString CheckAddrCorrect(const QString& regName, const QString& addrText,
                                       qint32* registerIndex, qint32 count, qint32 language,
                                       qint32 addressType);
TAVRIN_EXPORT QString AddrMutilCopy(const QString& regName, qint32 start, qint32 count,
                                    qint32 step, QStringList& addrTexts,
                                    QVector<qint32>& addrNumbers, qint32 language);
}

#if defined(__clang__)
#  pragma clang diagnostic pop
#endif

// Pointer types of the entry points, for hosts that resolve them by name
// (QLibrary::resolve, dlsym, GetProcAddress).
namespace TavrinEntry {
using SetComInfoFn = decltype(&::SetComInfo);
using FlashLocalRegisterFn = decltype(&::FlashLocalRegister);
using RegistCallBackFuncIntfFn = decltype(&::RegistCallBackFuncIntf);
using AddListReadVarFn = decltype(&::AddListReadVar);
using AddListWriteVarFn = decltype(&::AddListWriteVar);
using AddListOnceReadVarFn = decltype(&::AddListOnceReadVar);
using ReCreatReadVarListFn = decltype(&::ReCreatReadVarList);
using ComCommunicationFn = decltype(&::ComCommunication);
using DataComFn = decltype(&::DataCom);
using GetRegisterDataFn = decltype(&::GetRegisterData);
using SetRegisterDataFn = decltype(&::SetRegisterData);
using AddrStringToIntFn = decltype(&::AddrStringToInt);
using CheckAddrCorrectFn = decltype(&::CheckAddrCorrect);
using AddrMutilCopyFn = decltype(&::AddrMutilCopy);
} // namespace TavrinEntry
