#pragma once

// Loads the built module the way a host does (dlopen + lookup by name) and
// holds its entry points. Tests that go through the exported ABI use this.

#include "tavrin.h"

#include <string>

// The 14 entry points every host resolves by name, written once for the
// fields, the names and the look-ups.
#define TAVRIN_ENTRY_POINTS(X)                                                                     \
    X(SetComInfo) X(FlashLocalRegister) X(RegistCallBackFuncIntf) X(AddListReadVar)                \
    X(AddListWriteVar) X(AddListOnceReadVar) X(ReCreatReadVarList) X(ComCommunication) X(DataCom) \
    X(GetRegisterData) X(SetRegisterData) X(AddrStringToInt) X(CheckAddrCorrect) X(AddrMutilCopy)

struct ModuleEntryPoints {
#define TAVRIN_ENTRY_FIELD(name) TavrinEntry::name##Fn name = nullptr;
    TAVRIN_ENTRY_POINTS(TAVRIN_ENTRY_FIELD)
#undef TAVRIN_ENTRY_FIELD
};

// The names, in the order of ModuleEntryPoints.
extern const char* const kEntryPointNames[14];

class ModuleLibrary {
public:
    // Loads the module at `path` (default: the one this build produced).
    explicit ModuleLibrary(const std::string& path = TAVRIN_MODULE_PATH);
    ~ModuleLibrary(); // unloads: the module's teardown runs
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // True when every entry point resolved.
    bool isComplete() const;
    std::string error() const { return error_; }

    const ModuleEntryPoints& api() const { return api_; }

private:
    void* handle_ = nullptr;
    std::string error_;
    ModuleEntryPoints api_;
};
