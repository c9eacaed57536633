#include "support/module_library.h"

#include <dlfcn.h>

const char* const kEntryPointNames[14] = {
#define TAVRIN_ENTRY_NAME(name) #name,
    TAVRIN_ENTRY_POINTS(TAVRIN_ENTRY_NAME)
#undef TAVRIN_ENTRY_NAME
};

ModuleLibrary::ModuleLibrary(const std::string& path)
{
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : "dlopen failed";
        return;
    }
#define TAVRIN_RESOLVE(name) api_.name = reinterpret_cast<TavrinEntry::name##Fn>(dlsym(handle_, #name));
    TAVRIN_ENTRY_POINTS(TAVRIN_RESOLVE)
#undef TAVRIN_RESOLVE
}

ModuleLibrary::~ModuleLibrary()
{
    if (handle_)
        dlclose(handle_);
}

bool ModuleLibrary::isComplete() const
{
    bool complete = handle_ != nullptr;
#define TAVRIN_RESOLVED(name) complete = complete && api_.name;
    TAVRIN_ENTRY_POINTS(TAVRIN_RESOLVED)
#undef TAVRIN_RESOLVED
    return complete;
}
