// Shared libraries loaded at run time, through the system's dynamic loader.
#include "format/dynlib.h"

#include <dlfcn.h>

int load_dynamic_library(const char* name, dynamic_library* library, std::string* error)
{
    unload_dynamic_library(library);
    // RTLD_LOCAL: the library's symbols stay its own, reached only through
    // find_dynamic_symbol.
    library->handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library->handle != nullptr)
        return 0;
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : std::string(name) + ": cannot be loaded";
    return -1;
}

void* find_dynamic_symbol(const dynamic_library& library, const char* name)
{
    if (library.handle == nullptr)
        return nullptr;
    return dlsym(library.handle, name);
}

void unload_dynamic_library(dynamic_library* library)
{
    if (library->handle != nullptr)
        dlclose(library->handle);
    library->handle = nullptr;
}
