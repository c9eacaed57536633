// Host calls: the input is a program of entry-point calls with arbitrary
// arguments, run on a fresh driver object, with the module's invariants
// checked after every call:
// - WriteVarList and OnceReadVarList never hold more than 1024 items;
// - both locks are free between calls, and the completion notice runs with
//   the list lock held and the image lock free, on the communication path only;
// - ComCommunication hands out the head of the frame queue, or null exactly
//   when nothing is queued; the queue never holds more than one item's frames;
// - every frame handed out is a whole frame: STX, ETX third from last, a
//   correct sum check, SendLength equal to its size;
// - DataCom returns one of its codes; a give-up empties the queue; a resend keeps it;
// - GetRegisterData changes no area; any other call changes only the areas
//   of the register types it names;
// - ReCreatReadVarList returns the size of the read list, and its blocks
//   carry the read-block fields.

#include "core/driver_probe.h"
#include "fuzz_input.h"
#include "image_areas_oracle.h"
#include "protocol/frame_codec.h"

#include <QList>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

const TavrinProbe* current = nullptr;
bool insideDataCom = false;
qint32* activeComInfo = nullptr;

void checkingCallback(qint32 tag, qint32, qint32, qint32 status)
{
    FUZZ_CHECK(insideDataCom);
    FUZZ_CHECK(status == CompletionGood || status == CompletionGivenUp);
    FUZZ_CHECK(tag == activeComInfo[ComInfoWord::CallbackTag]);
    FUZZ_CHECK(!current->isListMutexFree()); // held by the list step
    FUZZ_CHECK(current->isImageMutexFree());
}

bool isDataComResult(qint32 r)
{
    return r == ReplyAccepted || r == ReplyResend || (r >= 11 && r <= 22) || (r >= 41 && r <= 52)
        || (r >= 71 && r <= 82);
}

bool isWholeFrame(const RequestFrame& frame)
{
    const QByteArray& f = frame.FrameBytes;
    if (frame.SendLength != f.size() || f.size() < 6 || f[0] != 0x02 || f[f.size() - 3] != 0x03)
        return false;
    char sum[2];
    putHexByte(sum, frameSumCheck(f, f.size() - 3));
    return f[f.size() - 2] == sum[0] && f[f.size() - 1] == sum[1];
}

VarItem anyItem(FuzzInput& in)
{
    VarItem item;
    item.HostId = in.number();
    item.HostSubId = in.number();
    item.OpKind = in.pick(4);
    item.RegName = registerName(in);
    item.Addr = in.number();
    item.StationNo = in.number();
    item.Count = in.number();
    item.Data = in.bytes();
    return item;
}

QList<HostVarDef> anyHostList(FuzzInput& in)
{
    QList<HostVarDef> vars;
    const int n = in.u8() % 24;
    for (int i = 0; i < n; ++i) {
        HostVarDef var;
        var.RegName = registerName(in);
        var.AddrText = QStringLiteral("t");
        var.Addr = in.number();
        var.Length = in.number();
        vars.append(var);
    }
    return vars;
}

void fillComInfo(FuzzInput& in, qint32* block)
{
    for (int w = 0; w < ComInfoWord::Count; ++w)
        block[w] = 0;
    block[ComInfoWord::BlockSize] = in.number();
    block[ComInfoWord::StationNo] = in.u8();
    block[ComInfoWord::RetryLimit] = in.number() % 8;
    block[ComInfoWord::StationPerVar] = in.u8() % 2;
    block[ComInfoWord::WriteMode] = in.u8() % 3;
    block[ComInfoWord::CallbackTag] = in.number();
}

// The reply a PLC would give to the head frame: ACK, or a data frame with
// the characters the input supplies and a correct sum.
QByteArray goodReply(const RequestFrame& frame, FuzzInput& in)
{
    if (frame.ReplyLength == 1)
        return QByteArray(1, 0x06);
    if (frame.DataChars < 0 || frame.DataChars > 1024)
        return QByteArray();
    QByteArray reply(1, 0x02);
    for (int i = 0; i < frame.DataChars; ++i)
        reply.append(hexDigit(in.u8()));
    reply.append(char(0x03));
    char sum[2];
    putHexByte(sum, frameSumCheck(reply, reply.size() - 1));
    reply.append(sum, 2);
    return reply;
}

void checkReadBlocks(const TavrinProbe& probe, qint32 result)
{
    const std::vector<VarItem> blocks = probe.readList();
    FUZZ_CHECK(result == static_cast<qint32>(blocks.size()));
    for (const VarItem& block : blocks) {
        FUZZ_CHECK(block.HostId == 0 && block.HostSubId == -1 && block.OpKind == OpKindRead);
        FUZZ_CHECK(block.WorkA == 0 && block.WorkB == 0 && block.Data.isEmpty());
    }
}

void checkBetweenCalls(const TavrinProbe& probe)
{
    FUZZ_CHECK(probe.writeListSize() <= PendingListLimit);
    FUZZ_CHECK(probe.onceReadListSize() <= PendingListLimit);
    FUZZ_CHECK(probe.frameQueueSize() <= 2);
    if (const RequestFrame* head = probe.headFrame())
        FUZZ_CHECK(head->SendLength == head->FrameBytes.size());
    FUZZ_CHECK(probe.isListMutexFree());
    FUZZ_CHECK(probe.isImageMutexFree());
}

// Areas a call into the request cycle may change: those of the item in
// flight and of the first pending write (built and stored into the image).
QString headName(const TavrinProbe& probe)
{
    const RequestFrame* head = probe.headFrame();
    return head ? head->Item.RegName : QString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in(data, size);
    qint32 blocks[2][ComInfoWord::Count];
    fillComInfo(in, blocks[0]);
    auto driver = std::make_unique<Tavrin>();
    const TavrinProbe probe(*driver);
    current = &probe;
    if (in.u8() % 8 != 0) { // now and then the host forgets SetComInfo
        driver->SetComInfo(blocks[0]);
        activeComInfo = blocks[0];
    } else { // without a block the driver reads every word as 0
        activeComInfo = blocks[1];
        std::fill(std::begin(blocks[1]), std::end(blocks[1]), 0);
    }
    if (in.u8() % 8 != 0) // and now and then the callback
        driver->RegistCallBackFuncIntf(checkingCallback, 5);

    for (int call = 0; call < 48 && !in.atEnd(); ++call) {
        const RegisterImage before = probe.image();
        switch (in.pick(12)) {
        case 0: {
            const int which = in.u8() % 2;
            fillComInfo(in, blocks[which]);
            driver->SetComInfo(blocks[which]);
            activeComInfo = blocks[which];
            break;
        }
        case 1: {
            const VarItem item = anyItem(in);
            driver->AddListReadVar(item);
            break;
        }
        case 2: {
            const VarItem item = anyItem(in);
            const qint32 size = driver->AddListWriteVar(item);
            FUZZ_CHECK(size == probe.writeListSize());
            FUZZ_CHECK(changedOnlyIn(before, probe.image(), {}));
            break;
        }
        case 3: {
            VarItem item = anyItem(in);
            const qint32 size = driver->AddListOnceReadVar(item);
            FUZZ_CHECK(size == 0 || size == probe.onceReadListSize());
            FUZZ_CHECK(changedOnlyIn(before, probe.image(), {}));
            break;
        }
        case 4: {
            const QString name = registerName(in);
            const qint32 index = in.number();
            const qint32 count = in.number();
            QByteArray values = in.bytes();
            FUZZ_CHECK(driver->GetRegisterData(name, index, 0, values, count) == 1);
            FUZZ_CHECK(changedOnlyIn(before, probe.image(), {}));
            break;
        }
        case 5: {
            const QString name = registerName(in);
            const qint32 index = in.number();
            const qint32 station = in.number();
            const qint32 count = in.number();
            const QByteArray values = in.bytes();
            const qint32 result = driver->SetRegisterData(name, index, station, values, count);
            FUZZ_CHECK(result >= 0 && result <= PendingListLimit);
            FUZZ_CHECK(changedOnlyIn(before, probe.image(), {name}));
            break;
        }
        case 6: {
            const QList<HostVarDef> vars = anyHostList(in);
            checkReadBlocks(probe, driver->ReCreatReadVarList(vars));
            FUZZ_CHECK(changedOnlyIn(before, probe.image(), {}));
            break;
        }
        case 7:
        case 8: {
            const QString pending = probe.firstWriteName();
            RequestFrame* frame = driver->ComCommunication();
            FUZZ_CHECK(frame == probe.headFrame());
            if (frame) {
                FUZZ_CHECK(isWholeFrame(*frame));
            }
            FUZZ_CHECK(changedOnlyIn(before, probe.image(), {pending}));
            break;
        }
        case 9:
        case 10: {
            const bool good = in.u8() % 2 == 0;
            QByteArray reply;
            if (good && probe.headFrame())
                reply = goodReply(*probe.headFrame(), in);
            else
                reply = in.bytes();
            const int queued = probe.frameQueueSize();
            const QString name = headName(probe);
            const RegisterImage cycleBefore = probe.image();
            qint32 wordsBefore[ComInfoWord::Count];
            std::copy(activeComInfo, activeComInfo + ComInfoWord::Count, wordsBefore);
            insideDataCom = true;
            const qint32 result = driver->DataCom(reply);
            insideDataCom = false;
            FUZZ_CHECK(isDataComResult(result));
            if (queued == 0) { // nothing in flight: nothing changes
                FUZZ_CHECK(result == ReplyMissing && probe.frameQueueSize() == 0);
                FUZZ_CHECK(std::equal(wordsBefore, wordsBefore + ComInfoWord::Count, activeComInfo));
            }
            else if (result == ReplyResend)
                FUZZ_CHECK(probe.frameQueueSize() == queued);
            else if (result != ReplyAccepted)
                FUZZ_CHECK(probe.frameQueueSize() == 0);
            FUZZ_CHECK(changedOnlyIn(cycleBefore, probe.image(), {name}));
            break;
        }
        default:
            if (in.u8() % 2)
                driver->RegistCallBackFuncIntf(checkingCallback, in.number());
            else
                driver->RegistCallBackFuncIntf(nullptr, 0);
            {
                const qint32 first = in.number();
                const qint32 second = in.number();
                driver->FlashLocalRegister(first, second, in.number());
            }
            break;
        }
        checkBetweenCalls(probe);
    }
    current = nullptr;
    return 0;
}
