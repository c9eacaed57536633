#include "module_scan.h"

#include "virtual_plc.h"

namespace {

constexpr int BitsPerCharacter = 10; // 7 data bits, even parity, 1 stop bit, start bit

void ignoreNotice(qint32, qint32, qint32, qint32) {}

} // namespace

double WireCost::wireSeconds(qint32 baud) const
{
    return static_cast<double>(characters) * BitsPerCharacter / baud;
}

CountingRun::CountingRun(qint32 blockSize)
{
    QString error;
    module_ = ModuleInstance::shared(&error);
    if (!module_)
        qFatal("%s", qPrintable(error));
    if (!module_->claim())
        qFatal("a runtime drives the module's shared copy: no counting run now");
    // The copy's resting block outlives the run, as the module needs.
    std::array<qint32, 32>& comInfo = module_->restingComInfo();
    comInfo.fill(0);
    comInfo[ComInfoWord::BlockSize] = blockSize;
    module_->SetComInfo(comInfo.data());
    module_->RegistCallBackFuncIntf(&ignoreNotice, 0);
    module_->ReCreatReadVarList({});
}

CountingRun::~CountingRun()
{
    module_->ReCreatReadVarList({});
    module_->release();
}

WireCost CountingRun::scan(int frames, VirtualPlc& plc)
{
    WireCost cost;
    for (int i = 0; i < frames; ++i) {
        const RequestFrame* frame = module_->ComCommunication();
        if (!frame)
            break;
        QByteArray reply = plc.receive(frame->FrameBytes);
        cost.frames += 1;
        cost.characters += frame->FrameBytes.size() + reply.size();
        cost.refused += module_->DataCom(reply) != ReplyAccepted;
    }
    return cost;
}

WireCost scanCost(const QList<HostVarDef>& vars, qint32 blockSize, VirtualPlc& plc)
{
    CountingRun run(blockSize);
    return run.scan(run.module().ReCreatReadVarList(vars), plc);
}

bool parseVariables(const QList<HostVarDef>& vars, QList<VariableAddress>* variables, QString* error)
{
    for (const HostVarDef& var : vars) {
        const QString prefix = var.RegName == QLatin1String("D_bit") ? QStringLiteral("D") : var.RegName;
        const int registers = var.RegName == QLatin1String("32CV") ? var.Length / 2 : var.Length;
        VariableAddress address;
        if (!parseVariableAddress(prefix + var.AddrText, registers, &address, error))
            return false;
        variables->append(address);
    }
    return true;
}
