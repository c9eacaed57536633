#pragma once

// Loads the built module the way a host does (dlopen, then each entry point
// by name) and holds its entry points; unloading runs the module's teardown.

#include "tavrin.h"

#include <dlfcn.h>

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
inline const char* const kEntryPointNames[] = {
#define TAVRIN_ENTRY_NAME(name) #name,
    TAVRIN_ENTRY_POINTS(TAVRIN_ENTRY_NAME)
#undef TAVRIN_ENTRY_NAME
};

class ModuleLibrary {
public:
    // Loads the module at `path` (default: the one this build produced).
    explicit ModuleLibrary(const std::string& path = TAVRIN_MODULE_PATH)
        : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        const char* why = handle_ ? nullptr : dlerror();
        error_ = why ? why : "";
#define TAVRIN_RESOLVE(name)                                                                       \
    api_.name = reinterpret_cast<TavrinEntry::name##Fn>(handle_ ? dlsym(handle_, #name) : nullptr);
        TAVRIN_ENTRY_POINTS(TAVRIN_RESOLVE)
#undef TAVRIN_RESOLVE
    }
    ~ModuleLibrary()
    {
        if (handle_)
            dlclose(handle_);
    }
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // True when the module loaded and every entry point resolved.
    bool isComplete() const
    {
        bool complete = handle_ != nullptr;
#define TAVRIN_RESOLVED(name) complete = complete && api_.name;
        TAVRIN_ENTRY_POINTS(TAVRIN_RESOLVED)
#undef TAVRIN_RESOLVED
        return complete;
    }
    std::string error() const { return error_; }
    const ModuleEntryPoints& api() const { return api_; }

private:
    void* handle_;
    std::string error_;
    ModuleEntryPoints api_;
};
