#include "support/module_library.h"

#include <dlfcn.h>

const char* const kEntryPointNames[14] = {
    "SetComInfo",      "FlashLocalRegister", "RegistCallBackFuncIntf", "AddListReadVar",
    "AddListWriteVar", "AddListOnceReadVar", "ReCreatReadVarList",     "ComCommunication",
    "DataCom",         "GetRegisterData",    "SetRegisterData",        "AddrStringToInt",
    "CheckAddrCorrect", "AddrMutilCopy",
};

namespace {
template <typename Fn>
void resolve(void* handle, const char* name, Fn& out)
{
    out = reinterpret_cast<Fn>(dlsym(handle, name));
}
} // namespace

ModuleLibrary::ModuleLibrary(const std::string& path)
{
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : "dlopen failed";
        return;
    }
    resolve(handle_, "SetComInfo", api_.SetComInfo);
    resolve(handle_, "FlashLocalRegister", api_.FlashLocalRegister);
    resolve(handle_, "RegistCallBackFuncIntf", api_.RegistCallBackFuncIntf);
    resolve(handle_, "AddListReadVar", api_.AddListReadVar);
    resolve(handle_, "AddListWriteVar", api_.AddListWriteVar);
    resolve(handle_, "AddListOnceReadVar", api_.AddListOnceReadVar);
    resolve(handle_, "ReCreatReadVarList", api_.ReCreatReadVarList);
    resolve(handle_, "ComCommunication", api_.ComCommunication);
    resolve(handle_, "DataCom", api_.DataCom);
    resolve(handle_, "GetRegisterData", api_.GetRegisterData);
    resolve(handle_, "SetRegisterData", api_.SetRegisterData);
    resolve(handle_, "AddrStringToInt", api_.AddrStringToInt);
    resolve(handle_, "CheckAddrCorrect", api_.CheckAddrCorrect);
    resolve(handle_, "AddrMutilCopy", api_.AddrMutilCopy);
}

ModuleLibrary::~ModuleLibrary()
{
    if (handle_)
        dlclose(handle_);
}

bool ModuleLibrary::isComplete() const
{
    for (const char* name : kEntryPointNames) {
        if (!symbol(name))
            return false;
    }
    return true;
}

void* ModuleLibrary::symbol(const char* name) const
{
    return handle_ ? dlsym(handle_, name) : nullptr;
}
