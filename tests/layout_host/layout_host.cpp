// A 32-bit Qt 5 host of its own, written from the documented host interface
// only: it declares the records itself with their sizes and offsets, loads
// the module by name, resolves the entry points and reads what the module
// hands back through those records. It closes with "N passed, N failed".
//
//   layout_host [MODULE]     MODULE: a name or a path for QLibrary ("tavrin")

#include <QByteArray>
#include <QDebug>
#include <QLibrary>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <cstddef>
#include <cstdio>
#include <string>
#include <tuple>

#if QT_VERSION >= 0x060000 || QT_POINTER_SIZE != 4
#  error "layout_host checks the host's 32-bit layout: build it for a 32-bit Qt 5 target"
#endif

namespace {

// The host's records, declared here from their documented layout.

// One variable, request block or write item: six integers, two strings, six
// integers, one byte array; 60 bytes.
struct HostItem {
    qint32 hostId, hostSubId, opKind, itemParam1, itemParam2, hostWord5;
    QString regName, addrText;
    qint32 hostWord8, addr, stationNo, count, workA, workB;
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
// three reserved integers; 92 bytes.
struct HostFrame {
    QByteArray frameBytes;
    qint32 sendLength, replyLength, dataStart, dataChars;
    HostItem item;
    qint32 reserved[3];
};

static_assert(sizeof(HostFrame) == 92, "request: 92 bytes");
static_assert(offsetof(HostFrame, frameBytes) == 0 && offsetof(HostFrame, sendLength) == 4 &&
                  offsetof(HostFrame, replyLength) == 8 && offsetof(HostFrame, dataStart) == 12 &&
                  offsetof(HostFrame, dataChars) == 16 && offsetof(HostFrame, item) == 20 &&
                  offsetof(HostFrame, reserved) == 80,
              "request fields at 0, 4, ... 20, the reserved words at 80");

// ComInfo: 32-bit words by position.
constexpr int BlockSizeWord = 4, WriteModeWord = 16, CallbackTagWord = 18;

using CallbackFn = void (*)(qint32, qint32, qint32, qint32);

int passed = 0;
int failed = 0;

template <typename Value>
std::string shown(const Value& value)
{
    QString text;
    QDebug(&text).nospace() << value;
    return text.toStdString();
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

// Every field of an item in order, for comparing a copy with what it should hold.
auto fields(const HostItem& i)
{
    return std::make_tuple(i.hostId, i.hostSubId, i.opKind, i.itemParam1, i.itemParam2, i.hostWord5,
                           i.regName, i.addrText, i.hostWord8, i.addr, i.stationNo, i.count, i.workA,
                           i.workB, i.data);
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
    const auto SetComInfo = resolve<void (*)(qint32*)>(library, "SetComInfo");
    const auto FlashLocalRegister =
        resolve<void (*)(qint32, qint32, qint32)>(library, "FlashLocalRegister");
    const auto RegistCallBackFuncIntf =
        resolve<void (*)(CallbackFn, qint32)>(library, "RegistCallBackFuncIntf");
    const auto AddListReadVar = resolve<qint32 (*)(const HostItem&)>(library, "AddListReadVar");
    const auto AddListWriteVar = resolve<qint32 (*)(const HostItem&)>(library, "AddListWriteVar");
    const auto AddListOnceReadVar = resolve<qint32 (*)(HostItem&)>(library, "AddListOnceReadVar");
    const auto ReCreatReadVarList =
        resolve<qint32 (*)(const QList<HostVariable>&)>(library, "ReCreatReadVarList");
    const auto ComCommunication = resolve<const HostFrame* (*)()>(library, "ComCommunication");
    const auto DataCom = resolve<qint32 (*)(QByteArray&)>(library, "DataCom");
    const auto GetRegisterData = resolve<qint32 (*)(const QString&, qint32, qint32, QByteArray&, qint32)>(
        library, "GetRegisterData");
    const auto SetRegisterData =
        resolve<qint32 (*)(const QString&, qint32, qint32, const QByteArray&, qint32)>(
            library, "SetRegisterData");
    const auto AddrStringToInt =
        resolve<qint32 (*)(const QString&, const QString&)>(library, "AddrStringToInt");
    const auto CheckAddrCorrect =
        resolve<QString (*)(const QString&, const QString&, qint32*, qint32, qint32, qint32)>(
            library, "CheckAddrCorrect");
    const auto AddrMutilCopy = resolve<QString (*)(const QString&, qint32, qint32, qint32,
                                                   QStringList&, QVector<qint32>&, qint32)>(
        library, "AddrMutilCopy");
    check(library.resolve("_ZN6TavrinC1Ev") != nullptr, "the constructor _ZN6TavrinC1Ev");
    if (failed) {
        std::printf("%d passed, %d failed\n", passed, failed);
        return 1;
    }

    qint32 comInfo[32] = {};
    comInfo[BlockSizeWord] = 64;
    comInfo[WriteModeWord] = 2; // writes queued for the PLC
    comInfo[CallbackTagWord] = 77;
    SetComInfo(comInfo);
    FlashLocalRegister(1, 2, 3);
    RegistCallBackFuncIntf(recordNotice, 5);

    // A read item with a distinct value in every field, D100..D101, comes
    // back in the request's copy with every field where it was.
    const HostItem item{11, 12, 0, 13, 14, 15, QStringLiteral("D"), QStringLiteral("D100"),
                        18, 100, 0, 2, 22, 23, QByteArray("\xAA\xBB", 2)};
    checkEqual<qint32>(AddListReadVar(item), 1, "AddListReadVar: one item in the cyclic list");
    const HostFrame* frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: a read request");
    if (frame) {
        checkEqual(frame->frameBytes, framed("010C804"),
                   "read request: block read of 4 bytes at 0x10C8 (frame bytes at 0)");
        checkEqual<qint32>(frame->sendLength, 11, "read request: send length at 4");
        checkEqual<qint32>(frame->replyLength, 12, "read request: reply length at 8");
        checkEqual<qint32>(frame->dataStart, 1, "read request: data start at 12");
        checkEqual<qint32>(frame->dataChars, 8, "read request: data characters at 16");
        check(fields(frame->item) == fields(item), "read request: the item's copy at 20, field by field");
    }
    // The PLC answers D100 = 0x5678, D101 = 0xABCD, low byte first.
    QByteArray reply = framed("7856CDAB");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the read reply");
    QByteArray values;
    checkEqual<qint32>(GetRegisterData(QStringLiteral("D"), 100, 0, values, 2), 1, "GetRegisterData D100");
    checkEqual(values, QByteArray("\x78\x56\xCD\xAB", 4), "the reply is decoded into the image");

    // A write item goes out first, as a block write carrying its data, and
    // its completion comes back with its ids.
    const HostItem write{31, 32, 1, 0, 0, 0, QStringLiteral("D"), QStringLiteral("D100"),
                         0, 100, 0, 1, 0, 0, QByteArray("\x34\x12", 2)};
    checkEqual<qint32>(AddListWriteVar(write), 1, "AddListWriteVar: one pending write");
    frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: a write request");
    if (frame) {
        checkEqual(frame->frameBytes, framed("110C8023412"),
                   "write request: block write of 2 bytes at 0x10C8");
        checkEqual<qint32>(frame->sendLength, 15, "write request: send length");
        checkEqual<qint32>(frame->replyLength, 1, "write request: reply length (ACK)");
        check(fields(frame->item) == fields(write), "write request: the item's copy");
    }
    QByteArray ack(1, '\x06');
    checkEqual<qint32>(DataCom(ack), 1, "DataCom accepts the ACK");
    check(notices.size() == 1 && notices[0].tag == 77 && notices[0].hostId == 31 &&
              notices[0].hostSubId == 32 && notices[0].status == 1,
          "completion notice (77, 31, 32, 1)");

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
        checkEqual(frame->frameBytes, framed("0008001"), "first block: X0..X7, one byte at 0x0080");
        checkEqual(frame->item.regName, QStringLiteral("X"), "first block: register name");
    }
    reply = framed("05");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the X reply");
    frame = ComCommunication();
    check(frame != nullptr, "ComCommunication: the second rebuilt block");
    if (frame) {
        checkEqual(frame->frameBytes, framed("0119006"), "second block: D200..D202, 6 bytes at 0x1190");
        const HostItem& b = frame->item;
        check(std::make_tuple(b.hostId, b.hostSubId, b.regName, b.addrText, b.addr, b.count)
                  == std::make_tuple(0, -1, QStringLiteral("D"), QStringLiteral("D200"), 200, 3),
              "rebuilt block: HostId 0, HostSubId -1, \"D\", \"D200\", Addr 200, Count 3");
    }
    reply = framed("010002000300");
    checkEqual<qint32>(DataCom(reply), 1, "DataCom accepts the D reply");
    values.clear();
    checkEqual<qint32>(GetRegisterData(QStringLiteral("X"), 0, 0, values, 3), 1, "GetRegisterData X0..X2");
    checkEqual(values, QByteArray("\x01\x00\x01", 3), "X0..X2 from the image, one byte per bit");
    values.clear();
    checkEqual<qint32>(GetRegisterData(QStringLiteral("D"), 201, 0, values, 1), 1, "GetRegisterData D201");
    checkEqual(values, QByteArray("\x02\x00", 2), "D201 from the image");

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

    // A host write queued, and a one-shot read that writes into the host's
    // own record: WorkA at 48 goes to 0.
    checkEqual<qint32>(SetRegisterData(QStringLiteral("D"), 500, 0, QByteArray("\x22\x11", 2), 1), 1,
                       "SetRegisterData: one queued write");
    HostItem once = item;
    checkEqual<qint32>(AddListOnceReadVar(once), 1, "AddListOnceReadVar: one pending read");
    checkEqual<qint32>(once.workA, 0, "AddListOnceReadVar zeroes the host's WorkA");

    check(library.unload(), "the module unloads");
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
