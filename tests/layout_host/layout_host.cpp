// A 32-bit Qt 5 host of its own, written from the documented host interface
// only: it declares the records itself, loads the module by name, resolves
// the entry points and reads what the module hands back at the byte offsets
// of the host's layout. It closes with the line "N passed, N failed".
//
//   layout_host [MODULE]     MODULE: a name or a path for QLibrary ("tavrin")

#include <QByteArray>
#include <QLibrary>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#if QT_VERSION >= 0x060000 || QT_POINTER_SIZE != 4
#  error "layout_host checks the host's 32-bit layout: build it for a 32-bit Qt 5 target"
#endif

namespace {

// ---------------------------------------------------------------------------
// The host's records, declared here from their documented layout.

// One variable, request block or write item: six integers, two strings, six
// integers, one byte array; 60 bytes.
struct HostItem {
    qint32 hostId;
    qint32 hostSubId;
    qint32 opKind;
    qint32 itemParam1;
    qint32 itemParam2;
    qint32 hostWord5;
    QString regName;
    QString addrText;
    qint32 hostWord8;
    qint32 addr;
    qint32 stationNo;
    qint32 count;
    qint32 workA;
    qint32 workB;
    QByteArray data;
};

// The host's record of one configured variable: four strings and four
// 32-bit values; 32 bytes.
struct HostVariable {
    QString text1;
    qint32 value1;
    QString text2;
    QString addrText;
    QString regName;
    qint32 length;
    qint32 value2;
    qint32 addr;
};

static_assert(sizeof(QString) == 4 && sizeof(QByteArray) == 4, "a string is one handle");
static_assert(sizeof(HostItem) == 60, "item: 60 bytes");
static_assert(offsetof(HostItem, hostId) == 0 && offsetof(HostItem, hostSubId) == 4 &&
                  offsetof(HostItem, opKind) == 8 && offsetof(HostItem, itemParam1) == 12 &&
                  offsetof(HostItem, itemParam2) == 16 && offsetof(HostItem, hostWord5) == 20,
              "item words 0 to 5 at 0 to 20");
static_assert(offsetof(HostItem, regName) == 24 && offsetof(HostItem, addrText) == 28,
              "item strings at 24 and 28");
static_assert(offsetof(HostItem, hostWord8) == 32 && offsetof(HostItem, addr) == 36 &&
                  offsetof(HostItem, stationNo) == 40 && offsetof(HostItem, count) == 44 &&
                  offsetof(HostItem, workA) == 48 && offsetof(HostItem, workB) == 52,
              "item words 8 to 13 at 32 to 52");
static_assert(offsetof(HostItem, data) == 56, "item byte array at 56");
static_assert(sizeof(HostVariable) == 32, "variable: 32 bytes");
static_assert(offsetof(HostVariable, text1) == 0 && offsetof(HostVariable, value1) == 4 &&
                  offsetof(HostVariable, text2) == 8 && offsetof(HostVariable, addrText) == 12 &&
                  offsetof(HostVariable, regName) == 16 && offsetof(HostVariable, length) == 20 &&
                  offsetof(HostVariable, value2) == 24 && offsetof(HostVariable, addr) == 28,
              "variable fields at 0, 4, ... 28");

// The queued request the host reads: byte array, four integers, a whole item,
// three reserved integers. Read below by byte offset, not through a struct.
constexpr int FrameBytesAt = 0, SendLengthAt = 4, ReplyLengthAt = 8, DataStartAt = 12,
              DataCharsAt = 16, ItemAt = 20;

// ComInfo: 32-bit words by position.
constexpr int BlockSizeWord = 4, ResetWordA = 10, ResetWordB = 13, WriteModeWord = 16,
              CallbackTagWord = 18;

using SetComInfoFn = void (*)(qint32*);
using FlashLocalRegisterFn = void (*)(qint32, qint32, qint32);
using CallbackFn = void (*)(qint32, qint32, qint32, qint32);
using RegistCallBackFuncIntfFn = void (*)(CallbackFn, qint32);
using AddListReadVarFn = qint32 (*)(const HostItem&);
using AddListWriteVarFn = qint32 (*)(const HostItem&);
using AddListOnceReadVarFn = qint32 (*)(HostItem&);
using ReCreatReadVarListFn = qint32 (*)(const QList<HostVariable>&);
using ComCommunicationFn = void* (*)();
using DataComFn = qint32 (*)(QByteArray&);
using GetRegisterDataFn = qint32 (*)(const QString&, qint32, qint32, QByteArray&, qint32);
using SetRegisterDataFn = qint32 (*)(const QString&, qint32, qint32, const QByteArray&, qint32);
using AddrStringToIntFn = qint32 (*)(const QString&, const QString&);
using CheckAddrCorrectFn = QString (*)(const QString&, const QString&, qint32*, qint32, qint32,
                                       qint32);
using AddrMutilCopyFn = QString (*)(const QString&, qint32, qint32, qint32, QStringList&,
                                    QVector<qint32>&, qint32);

// ---------------------------------------------------------------------------

int passed = 0;
int failed = 0;

std::string shown(qint32 value)
{
    return std::to_string(value);
}
std::string shown(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper().toStdString();
}
std::string shown(const QString& text)
{
    return '"' + text.toStdString() + '"';
}

void check(bool ok, const char* what)
{
    ++(ok ? passed : failed);
    if (!ok)
        std::printf("FAILED: %s\n", what);
}

// One check of a value: what it is and what it should be when it fails.
template <typename Value>
void checkEqual(const Value& got, const Value& want, const char* what)
{
    check(got == want, what);
    if (got != want)
        std::printf("        got  %s\n        want %s\n", shown(got).c_str(), shown(want).c_str());
}

// Fields of a record the module owns, read at their byte offset.
qint32 wordAt(const void* record, int offset)
{
    qint32 value;
    std::memcpy(&value, static_cast<const char*>(record) + offset, sizeof value);
    return value;
}
const QString& stringAt(const void* record, int offset)
{
    return *reinterpret_cast<const QString*>(static_cast<const char*>(record) + offset);
}
const QByteArray& bytesAt(const void* record, int offset)
{
    return *reinterpret_cast<const QByteArray*>(static_cast<const char*>(record) + offset);
}

// A frame as the line carries it: STX, the characters, ETX, then the sum of
// the characters and ETX as two upper-case hex digits.
QByteArray framed(const char* characters)
{
    QByteArray frame(1, '\x02');
    frame += characters;
    frame += '\x03';
    unsigned sum = 0;
    for (int i = 1; i < frame.size(); ++i)
        sum += static_cast<unsigned char>(frame[i]);
    frame += QByteArray::number(sum & 0xFF, 16).rightJustified(2, '0').toUpper();
    return frame;
}

struct Notice {
    qint32 tag, hostId, hostSubId, status;
};
QVector<Notice> notices;
void recordNotice(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    notices.append(Notice{tag, hostId, hostSubId, status});
}

template <typename Fn>
Fn resolve(QLibrary& library, const char* name)
{
    Fn fn = reinterpret_cast<Fn>(library.resolve(name));
    check(fn != nullptr, name);
    return fn;
}

} // namespace

int main(int argc, char** argv)
{
    const QString name = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("tavrin");
    QLibrary library(name);
    if (!library.load()) {
        std::printf("cannot load %s: %s\n", name.toLocal8Bit().constData(),
                    library.errorString().toLocal8Bit().constData());
        std::printf("0 passed, 1 failed\n");
        return 1;
    }
    std::printf("loaded %s\n", library.fileName().toLocal8Bit().constData());

    // Every entry point by its plain name, and the class's constructor by
    // its decorated one.
    const auto SetComInfo = resolve<SetComInfoFn>(library, "SetComInfo");
    const auto FlashLocalRegister = resolve<FlashLocalRegisterFn>(library, "FlashLocalRegister");
    const auto RegistCallBackFuncIntf =
        resolve<RegistCallBackFuncIntfFn>(library, "RegistCallBackFuncIntf");
    const auto AddListReadVar = resolve<AddListReadVarFn>(library, "AddListReadVar");
    const auto AddListWriteVar = resolve<AddListWriteVarFn>(library, "AddListWriteVar");
    const auto AddListOnceReadVar = resolve<AddListOnceReadVarFn>(library, "AddListOnceReadVar");
    const auto ReCreatReadVarList = resolve<ReCreatReadVarListFn>(library, "ReCreatReadVarList");
    const auto ComCommunication = resolve<ComCommunicationFn>(library, "ComCommunication");
    const auto DataCom = resolve<DataComFn>(library, "DataCom");
    const auto GetRegisterData = resolve<GetRegisterDataFn>(library, "GetRegisterData");
    const auto SetRegisterData = resolve<SetRegisterDataFn>(library, "SetRegisterData");
    const auto AddrStringToInt = resolve<AddrStringToIntFn>(library, "AddrStringToInt");
    const auto CheckAddrCorrect = resolve<CheckAddrCorrectFn>(library, "CheckAddrCorrect");
    const auto AddrMutilCopy = resolve<AddrMutilCopyFn>(library, "AddrMutilCopy");
    check(library.resolve("_ZN6TavrinC1Ev") != nullptr, "the constructor _ZN6TavrinC1Ev");
    if (failed) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }

    // Set-up: the driver zeroes ComInfo words 10 and 13 and no other.
    qint32 comInfo[32] = {};
    for (int i = 0; i < 32; ++i)
        comInfo[i] = 1000 + i;
    comInfo[BlockSizeWord] = 64;
    comInfo[6] = 0;  // station
    comInfo[7] = 3;  // retry limit
    comInfo[8] = 0;  // retry count
    comInfo[9] = 0;  // one station for all
    comInfo[WriteModeWord] = 2;
    comInfo[CallbackTagWord] = 77;
    SetComInfo(comInfo);
    checkEqual<qint32>(comInfo[ResetWordA], 0, "SetComInfo zeroes word 10");
    checkEqual<qint32>(comInfo[ResetWordB], 0, "SetComInfo zeroes word 13");
    checkEqual<qint32>(comInfo[3], 1003, "SetComInfo leaves word 3");
    FlashLocalRegister(1, 2, 3);
    RegistCallBackFuncIntf(recordNotice, 5);

    // A read item with a distinct value in every field, D100..D101, comes
    // back in the request's copy with every field where it was.
    HostItem item{11, 12, 0, 13, 14, 15, QStringLiteral("D"), QStringLiteral("D100"),
                  18, 100, 0, 2, 22, 23, QByteArray("\xAA\xBB", 2)};
    checkEqual<qint32>(AddListReadVar(item), 1, "AddListReadVar: one item in the cyclic list");
    const void* frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: a read request");
    if (frame) {
        checkEqual(bytesAt(frame, FrameBytesAt), framed("010C804"),
                   "read request: block read of 4 bytes at 0x10C8 (frame bytes at 0)");
        checkEqual<qint32>(wordAt(frame, SendLengthAt), 11, "read request: send length at 4");
        checkEqual<qint32>(wordAt(frame, ReplyLengthAt), 12, "read request: reply length at 8");
        checkEqual<qint32>(wordAt(frame, DataStartAt), 1, "read request: data start at 12");
        checkEqual<qint32>(wordAt(frame, DataCharsAt), 8, "read request: data characters at 16");
        const char* copy = static_cast<const char*>(frame) + ItemAt;
        const qint32 words[14] = {11, 12, 0, 13, 14, 15, -1, -1, 18, 100, 0, 2, 22, 23};
        for (int w = 0; w < 14; ++w) {
            if (w == 6 || w == 7)
                continue; // the two strings
            char what[80];
            std::snprintf(what, sizeof what, "read request: item word %d at %d", w, ItemAt + 4 * w);
            checkEqual<qint32>(wordAt(copy, 4 * w), words[w], what);
        }
        checkEqual<QString>(stringAt(copy, 24), QStringLiteral("D"), "read request: item register name at 24");
        checkEqual<QString>(stringAt(copy, 28), QStringLiteral("D100"), "read request: item address text at 28");
        checkEqual(bytesAt(copy, 56), QByteArray("\xAA\xBB", 2), "read request: item data at 56");
    }
    // The PLC answers D100 = 0x5678, D101 = 0xABCD, low byte first.
    QByteArray reply = framed("7856CDAB");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the read reply");
    QByteArray values;
    checkEqual<qint32>(GetRegisterData(QStringLiteral("D"), 100, 0, values, 2), 1, "GetRegisterData D100");
    checkEqual(values, QByteArray("\x78\x56\xCD\xAB", 4), "the reply is decoded into the image");

    // A write item goes out first, as a block write carrying its data, and
    // its completion comes back with its ids.
    HostItem write{31, 32, 1, 0, 0, 0, QStringLiteral("D"), QStringLiteral("D100"),
                   0, 100, 0, 1, 0, 0, QByteArray("\x34\x12", 2)};
    checkEqual<qint32>(AddListWriteVar(write), 1, "AddListWriteVar: one pending write");
    frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: a write request");
    if (frame) {
        checkEqual(bytesAt(frame, FrameBytesAt), framed("110C8023412"),
                   "write request: block write of 2 bytes at 0x10C8");
        checkEqual<qint32>(wordAt(frame, SendLengthAt), 15, "write request: send length");
        checkEqual<qint32>(wordAt(frame, ReplyLengthAt), 1, "write request: reply length (ACK)");
        checkEqual<qint32>(wordAt(frame, ItemAt + 0), 31, "write request: item HostId");
        checkEqual<qint32>(wordAt(frame, ItemAt + 8), 1, "write request: item OpKind");
        checkEqual(bytesAt(frame, ItemAt + 56), QByteArray("\x34\x12", 2), "write request: item data");
    }
    QByteArray ack(1, '\x06');
    checkEqual<qint32>(DataCom(ack), 1, "DataCom accepts the ACK");
    check(notices.size() == 1 && notices[0].tag == 77 && notices[0].hostId == 31 &&
              notices[0].hostSubId == 32 && notices[0].status == 1,
          "completion notice (77, 31, 32, 1)");

    // A one-shot read changed in place: the module writes back into the
    // host's own record.
    HostItem once{41, 42, 0, 0, 0, 0, QStringLiteral("D"), QStringLiteral("D300"),
                  0, 300, 9, 1, 5, 6, QByteArray()};
    checkEqual<qint32>(AddListOnceReadVar(once), 1, "AddListOnceReadVar: one pending read");
    checkEqual<qint32>(once.workA, 0, "AddListOnceReadVar zeroes the host's WorkA");
    frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: the one-shot read");
    if (frame)
        checkEqual(bytesAt(frame, FrameBytesAt), framed("01258" "02"),
                   "one-shot request: block read of 2 bytes at 0x1258 (D300)");
    reply = framed("0100");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the one-shot reply");

    // The host's variable list: the rebuild reads address text, register
    // name, length and address at 12, 16, 20 and 28.
    QList<HostVariable> variables;
    variables.append(HostVariable{QStringLiteral("first"), 1, QStringLiteral("second"),
                                  QStringLiteral("D200"), QStringLiteral("D"), 3, 2, 200});
    variables.append(HostVariable{QStringLiteral("x"), 0, QString(), QStringLiteral("X0"),
                                  QStringLiteral("X"), 8, 0, 0});
    checkEqual<qint32>(ReCreatReadVarList(variables), 2, "ReCreatReadVarList: two blocks");
    frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: the first rebuilt block");
    if (frame) {
        checkEqual(bytesAt(frame, FrameBytesAt), framed("0008001"),
                   "first block: X0..X7, one byte at 0x0080");
        checkEqual<QString>(stringAt(frame, ItemAt + 24), QStringLiteral("X"), "first block: register name");
    }
    reply = framed("05");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the X reply");
    frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: the second rebuilt block");
    if (frame) {
        checkEqual(bytesAt(frame, FrameBytesAt), framed("0119006"),
                   "second block: D200..D202, 6 bytes at 0x1190");
        checkEqual<qint32>(wordAt(frame, ItemAt + 0), 0, "rebuilt block: HostId 0");
        checkEqual<qint32>(wordAt(frame, ItemAt + 4), -1, "rebuilt block: HostSubId -1");
        checkEqual<QString>(stringAt(frame, ItemAt + 24), QStringLiteral("D"), "rebuilt block: register name");
        checkEqual<QString>(stringAt(frame, ItemAt + 28), QStringLiteral("D200"), "rebuilt block: address text");
        checkEqual<qint32>(wordAt(frame, ItemAt + 36), 200, "rebuilt block: Addr");
        checkEqual<qint32>(wordAt(frame, ItemAt + 44), 3, "rebuilt block: Count");
    }
    reply = framed("010002000300");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the D reply");
    values.clear();
    checkEqual<qint32>(GetRegisterData(QStringLiteral("X"), 0, 0, values, 3), 1, "GetRegisterData X0..X2");
    checkEqual(values, QByteArray("\x01\x00\x01", 3), "X0..X2 from the image, one byte per bit");
    values.clear();
    checkEqual<qint32>(GetRegisterData(QStringLiteral("D"), 201, 0, values, 1), 1, "GetRegisterData D201");
    checkEqual(values, QByteArray("\x02\x00", 2), "D201 from the image");

    // The image alone, with the host's write mode 0.
    comInfo[WriteModeWord] = 0;
    checkEqual<qint32>(SetRegisterData(QStringLiteral("D"), 500, 0, QByteArray("\x22\x11", 2), 1), 1,
             "SetRegisterData into the image");
    values.clear();
    checkEqual<qint32>(GetRegisterData(QStringLiteral("D"), 500, 0, values, 1), 1, "GetRegisterData D500");
    checkEqual(values, QByteArray("\x22\x11", 2), "D500 as written");

    // Configuration tools: texts and containers across the boundary.
    checkEqual<qint32>(AddrStringToInt(QStringLiteral("D_bit"), QStringLiteral("100.07")), 1607,
             "AddrStringToInt D_bit 100.07");
    qint32 index = -99;
    checkEqual<QString>(CheckAddrCorrect(QStringLiteral("M"), QStringLiteral("1"), &index, 1, 1, 1),
              QStringLiteral("The register and address type isn't match!"),
              "CheckAddrCorrect: English message");
    checkEqual<QString>(CheckAddrCorrect(QStringLiteral("D_bit"), QStringLiteral("8000.0"), &index, 1, 0, 0),
              QString::fromUtf8("\xE5\x9C\xB0\xE5\x9D\x80\xE6\xA0\xBC\xE5\xBC\x8F:ddd.DD, "
                                "\xE8\x8C\x83\xE5\x9B\xB4:0.0~7999.15, DD\xE4\xBD\x8D"
                                "\xE5\x9C\xB0\xE5\x9D\x80" "0~15"),
              "CheckAddrCorrect: Chinese message in UTF-8");
    checkEqual<qint32>(index, 128000, "CheckAddrCorrect: register index out-parameter");
    QStringList texts{QStringLiteral("stale")};
    QVector<qint32> numbers{1, 2, 3};
    // Three copies of D10, two registers apart: D12, D14, D16.
    checkEqual<QString>(AddrMutilCopy(QStringLiteral("D"), 10, 3, 2, texts, numbers, 1), QString(),
              "AddrMutilCopy: no message");
    check(texts == (QStringList{QStringLiteral("12"), QStringLiteral("14"), QStringLiteral("16")}),
          "AddrMutilCopy: address texts");
    check(numbers == (QVector<qint32>{12, 14, 16}), "AddrMutilCopy: address numbers");

    check(library.unload(), "the module unloads");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
