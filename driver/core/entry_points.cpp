// The exported entry points: a thin layer over the module's single driver
// object, constructed when the module is loaded and destroyed when it is
// unloaded.

#include "core/driver_object.h"
#include "registers/address_conversion.h"
#include "registers/address_multi_copy.h"
#include "registers/address_validation.h"

namespace {
Tavrin module;
}

extern "C" {

void SetComInfo(qint32* comInfo)
{
    module.SetComInfo(comInfo);
}

void FlashLocalRegister(qint32 arg1, qint32 arg2, qint32 arg3)
{
    module.FlashLocalRegister(arg1, arg2, arg3);
}

void RegistCallBackFuncIntf(HostCallback callback, qint32 context)
{
    module.RegistCallBackFuncIntf(callback, context);
}

qint32 AddListReadVar(const VarItem& item)
{
    return module.AddListReadVar(item);
}

qint32 AddListWriteVar(const VarItem& item)
{
    return module.AddListWriteVar(item);
}

qint32 AddListOnceReadVar(VarItem& item)
{
    return module.AddListOnceReadVar(item);
}

qint32 ReCreatReadVarList(const QList<HostVarDef>& vars)
{
    return module.ReCreatReadVarList(vars);
}

RequestFrame* ComCommunication()
{
    return module.ComCommunication();
}

qint32 DataCom(QByteArray& reply)
{
    return module.DataCom(reply);
}

qint32 GetRegisterData(const QString& regName, qint32 index, qint32 station, QByteArray& values,
                       qint32 count)
{
    return module.GetRegisterData(regName, index, station, values, count);
}

qint32 SetRegisterData(const QString& regName, qint32 index, qint32 station,
                       const QByteArray& values, qint32 count)
{
    return module.SetRegisterData(regName, index, station, values, count);
}

qint32 AddrStringToInt(const QString& regName, const QString& addrText)
{
    return addressTextToIndex(regName, addrText);
}

QString CheckAddrCorrect(const QString& regName, const QString& addrText, qint32* registerIndex,
                         qint32 count, qint32 language, qint32 addressType)
{
    return checkAddress(regName, addrText, registerIndex, count, language, addressType);
}

QString AddrMutilCopy(const QString& regName, qint32 start, qint32 count, qint32 step,
                      QStringList& addrTexts, QVector<qint32>& addrNumbers, qint32 language)
{
    return copyAddresses(regName, start, count, step, addrTexts, addrNumbers, language);
}

} // extern "C"
