#pragma once

// Loads the built module the way a host does (dlopen + lookup by name) and
// holds its entry points. Tests that go through the exported ABI use this.

#include "tavrin.h"

#include <string>

struct ModuleEntryPoints {
    TavrinEntry::SetComInfoFn SetComInfo = nullptr;
    TavrinEntry::FlashLocalRegisterFn FlashLocalRegister = nullptr;
    TavrinEntry::RegistCallBackFuncIntfFn RegistCallBackFuncIntf = nullptr;
    TavrinEntry::AddListReadVarFn AddListReadVar = nullptr;
    TavrinEntry::AddListWriteVarFn AddListWriteVar = nullptr;
    TavrinEntry::AddListOnceReadVarFn AddListOnceReadVar = nullptr;
    TavrinEntry::ReCreatReadVarListFn ReCreatReadVarList = nullptr;
    TavrinEntry::ComCommunicationFn ComCommunication = nullptr;
    TavrinEntry::DataComFn DataCom = nullptr;
    TavrinEntry::GetRegisterDataFn GetRegisterData = nullptr;
    TavrinEntry::SetRegisterDataFn SetRegisterData = nullptr;
    TavrinEntry::AddrStringToIntFn AddrStringToInt = nullptr;
    TavrinEntry::CheckAddrCorrectFn CheckAddrCorrect = nullptr;
    TavrinEntry::AddrMutilCopyFn AddrMutilCopy = nullptr;
};

// The names every host resolves, in the order of ModuleEntryPoints.
extern const char* const kEntryPointNames[14];

class ModuleLibrary {
public:
    // Loads the module at `path` (default: the one this build produced).
    explicit ModuleLibrary(const std::string& path = TAVRIN_MODULE_PATH);
    ~ModuleLibrary(); // unloads: the module's teardown runs
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    bool isLoaded() const { return handle_ != nullptr; }
    // True when every entry point resolved.
    bool isComplete() const;
    std::string error() const { return error_; }
    void* symbol(const char* name) const;

    const ModuleEntryPoints& api() const { return api_; }

private:
    void* handle_ = nullptr;
    std::string error_;
    ModuleEntryPoints api_;
};
