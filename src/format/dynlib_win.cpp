// Shared libraries loaded at run time, through LoadLibraryA.
#include "format/dynlib.h"

#include <windows.h>

int load_dynamic_library(const char* name, dynamic_library* library, std::string* error)
{
    unload_dynamic_library(library);
    HMODULE module = LoadLibraryA(name);
    if (module == nullptr) {
        *error = std::string(name) + ": cannot be loaded (Windows error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    library->handle = reinterpret_cast<void*>(module);
    return 0;
}

void* find_dynamic_symbol(const dynamic_library& library, const char* name)
{
    if (library.handle == nullptr)
        return nullptr;
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library.handle), name);
    void* result = nullptr;
    static_assert(sizeof result == sizeof address, "entry points are plain addresses");
    std::memcpy(&result, &address, sizeof result);
    return result;
}

void unload_dynamic_library(dynamic_library* library)
{
    if (library->handle != nullptr)
        FreeLibrary(static_cast<HMODULE>(library->handle));
    library->handle = nullptr;
}
