#include "core/driver_object.h"

Tavrin::Tavrin() = default;

// Unloading destroys every frame and item still queued, without callbacks,
// and leaves the host's ComInfo block alone.
Tavrin::~Tavrin() = default;

void Tavrin::SetComInfo(qint32* comInfo)
{
    ComInfo.attach(comInfo);
    ComInfo.set(ComInfoWord::ResetWordA, 0);
    ComInfo.set(ComInfoWord::ResetWordB, 0);
}

void Tavrin::FlashLocalRegister(qint32 arg1, qint32 arg2, qint32 arg3)
{
    LocalRegisterArg1 = arg1;
    LocalRegisterArg2 = arg2;
    LocalRegisterArg3 = arg3;
}

void Tavrin::RegistCallBackFuncIntf(HostCallback callback, qint32 context)
{
    Callback = callback;
    CallbackContext = context;
}

qint32 Tavrin::blockSize() const
{
    const qint32 size = ComInfo.get(ComInfoWord::BlockSize);
    return size > 0 ? size : 1;
}

VarItem Tavrin::driverItem(qint32 opKind) const
{
    VarItem item;
    item.HostId = 0;
    item.HostSubId = -1;
    item.OpKind = opKind;
    item.ItemParam1 = ComInfo.get(ComInfoWord::ItemParam1);
    item.ItemParam2 = ComInfo.get(ComInfoWord::ItemParam2);
    return item;
}
