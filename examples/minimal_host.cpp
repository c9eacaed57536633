// A minimal HMI host for the Tavrin module, written the way a runtime uses
// it: the module is loaded at run time with QLibrary, its entry points are
// looked up by name, and the host drives the request cycle on its own line.
// Here the line is the virtual PLC in this process: each request's bytes go
// to VirtualPlc::receive and the reply goes back to DataCom. A real host
// sends the bytes on a serial port instead, collects ReplyLength bytes with
// a timeout, and after a failed reply lets the line go quiet before it sends
// again (docs/host-integration.md); the rest is the same.
//
// The host reads D100 and D101, which the PLC holds as 1234 and 5678, then
// writes 4321 to D102 and waits for the completion notice. Exit code 0 when
// every step did what it should.
//
// Usage: tavrin_example_host [MODULE]
//   MODULE is the module's path, or its name ("tavrin", the default), which
//   QLibrary turns into libtavrin.so or tavrin.dll and looks up.

#include "tavrin.h"
#include "virtual_plc.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>

#include <array>
#include <cstdio>
#include <optional>

namespace {

// The entry points this host uses, resolved by name.
struct TavrinModule {
    TavrinEntry::SetComInfoFn SetComInfo = nullptr;
    TavrinEntry::RegistCallBackFuncIntfFn RegistCallBackFuncIntf = nullptr;
    TavrinEntry::ReCreatReadVarListFn ReCreatReadVarList = nullptr;
    TavrinEntry::ComCommunicationFn ComCommunication = nullptr;
    TavrinEntry::DataComFn DataCom = nullptr;
    TavrinEntry::GetRegisterDataFn GetRegisterData = nullptr;
    TavrinEntry::SetRegisterDataFn SetRegisterData = nullptr;
    TavrinEntry::AddrStringToIntFn AddrStringToInt = nullptr;
};

template <typename Function>
bool resolve(QLibrary& library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(library.resolve(name));
    if (!function)
        std::fprintf(stderr, "entry point %s not found in %s\n", name,
                     qPrintable(library.fileName()));
    return function != nullptr;
}

bool resolveAll(QLibrary& library, TavrinModule& module)
{
    bool ok = resolve(library, "SetComInfo", module.SetComInfo);
    ok = resolve(library, "RegistCallBackFuncIntf", module.RegistCallBackFuncIntf) && ok;
    ok = resolve(library, "ReCreatReadVarList", module.ReCreatReadVarList) && ok;
    ok = resolve(library, "ComCommunication", module.ComCommunication) && ok;
    ok = resolve(library, "DataCom", module.DataCom) && ok;
    ok = resolve(library, "GetRegisterData", module.GetRegisterData) && ok;
    ok = resolve(library, "SetRegisterData", module.SetRegisterData) && ok;
    ok = resolve(library, "AddrStringToInt", module.AddrStringToInt) && ok;
    return ok;
}

// The completion notice runs on the communication thread while the module
// holds its list lock: it only records what it was told.
struct CompletionNotice {
    int calls = 0;
    qint32 tag = 0;
    qint32 hostId = 0;
    qint32 hostSubId = 0;
    qint32 status = 0;
};
CompletionNotice lastNotice;

void onCompletion(qint32 tag, qint32 hostId, qint32 hostSubId, qint32 status)
{
    ++lastNotice.calls;
    lastNotice.tag = tag;
    lastNotice.hostId = hostId;
    lastNotice.hostSubId = hostSubId;
    lastNotice.status = status;
}

constexpr qint32 NoticeTag = 7; // ComInfo CallbackTag: comes back as the notice's first argument

// One turn of the host's communication loop: ask for the next request, send
// it, hand the reply back. After a good reply the host sets RetryCount back
// to 0, so that each request has its own retries. False when the module had
// nothing to send.
bool exchangeOneRequest(const TavrinModule& module, VirtualPlc& plc, std::array<qint32, 32>& comInfo)
{
    const RequestFrame* frame = module.ComCommunication();
    if (!frame)
        return false;
    QByteArray reply = plc.receive(frame->FrameBytes.left(frame->SendLength));
    if (module.DataCom(reply) == ReplyAccepted)
        comInfo[ComInfoWord::RetryCount] = 0;
    return true;
}

quint16 wordAt(const QByteArray& values, int word)
{
    return quint16(quint8(values.at(2 * word)) | quint8(values.at(2 * word + 1)) << 8);
}

bool pollUntilScanComplete(const TavrinModule& module, VirtualPlc& plc, std::array<qint32, 32>& comInfo)
{
    for (int turn = 0; turn < 20; ++turn) {
        exchangeOneRequest(module, plc, comInfo);
        if (comInfo[ComInfoWord::ScanComplete] == 1)
            return true;
    }
    std::fprintf(stderr, "the read list was not polled through within 20 requests\n");
    return false;
}

bool readAndPrintD100D101(const TavrinModule& module)
{
    QByteArray values;
    module.GetRegisterData(QStringLiteral("D"), 100, 0, values, 2);
    if (values.size() < 4) {
        std::fprintf(stderr, "GetRegisterData gave %d bytes for two words\n", int(values.size()));
        return false;
    }
    const quint16 d100 = wordAt(values, 0);
    const quint16 d101 = wordAt(values, 1);
    std::printf("D100 = %u, D101 = %u\n", d100, d101);
    if (d100 != 1234 || d101 != 5678) {
        std::fprintf(stderr, "expected D100 = 1234 and D101 = 5678\n");
        return false;
    }
    return true;
}

bool writeD102AndConfirm(const TavrinModule& module, VirtualPlc& plc, std::array<qint32, 32>& comInfo)
{
    const quint16 value = 4321;
    QByteArray bytes;
    bytes.append(char(value & 0xFF)).append(char(value >> 8)); // low byte first
    const qint32 queued = module.SetRegisterData(QStringLiteral("D"), 102, 0, bytes, 1);
    std::printf("write D102 = %u queued (%d waiting)\n", value, queued);

    for (int turn = 0; turn < 20 && lastNotice.calls == 0; ++turn)
        exchangeOneRequest(module, plc, comInfo);
    if (lastNotice.calls != 1 || lastNotice.tag != NoticeTag) {
        std::fprintf(stderr, "expected one completion notice with tag %d, got %d\n", NoticeTag,
                     lastNotice.calls);
        return false;
    }
    std::printf("completion notice: tag %d, host id %d, sub id %d, status %d (%s)\n",
                lastNotice.tag, lastNotice.hostId, lastNotice.hostSubId, lastNotice.status,
                lastNotice.status == CompletionGood ? "good" : "given up");

    const std::optional<quint32> inPlc = plc.value(QStringLiteral("D"), 102);
    std::printf("the PLC holds D102 = %u\n", inPlc.value_or(0));
    return lastNotice.status == CompletionGood && inPlc == value;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QLibrary library(arguments.size() > 1 ? arguments.at(1) : QStringLiteral("tavrin"));
    if (!library.load()) {
        std::fprintf(stderr, "cannot load the module: %s\n", qPrintable(library.errorString()));
        return 1;
    }
    TavrinModule module;
    if (!resolveAll(library, module))
        return 1;

    // The host owns the ComInfo block and keeps it alive while the module is loaded.
    std::array<qint32, 32> comInfo{};
    // 17 keeps every request within the 64 bytes a programming port accepts:
    // 34 bytes for 17 words, 4 x 17 - 4 = 64 bytes for a 32-bit counter block.
    comInfo[ComInfoWord::BlockSize] = 17;
    comInfo[ComInfoWord::RetryLimit] = 3;
    comInfo[ComInfoWord::WriteMode] = WriteModeQueue;
    comInfo[ComInfoWord::CallbackTag] = NoticeTag;
    module.SetComInfo(comInfo.data());
    module.RegistCallBackFuncIntf(onCompletion, 0);

    VirtualPlc plc;
    plc.setValue(QStringLiteral("D"), 100, 1234);
    plc.setValue(QStringLiteral("D"), 101, 5678);

    // The configured variables, addresses converted as the configuration editor does.
    QList<HostVarDef> variables;
    for (const QString& address : {QStringLiteral("100"), QStringLiteral("101")}) {
        HostVarDef variable;
        variable.RegName = QStringLiteral("D");
        variable.AddrText = address;
        variable.Addr = module.AddrStringToInt(variable.RegName, address);
        variable.Length = 1;
        variables.append(variable);
    }
    module.ReCreatReadVarList(variables);

    const bool ok = pollUntilScanComplete(module, plc, comInfo) && readAndPrintD100D101(module)
        && writeD102AndConfirm(module, plc, comInfo);
    library.unload();
    std::printf("%s\n", ok ? "example host: all steps passed" : "example host: FAILED");
    return ok ? 0 : 1;
}
