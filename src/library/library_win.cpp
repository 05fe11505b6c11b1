// The Windows loader.
#include "library/library.h"

#include <windows.h>

void* platform_open_library(const char* name, std::string* reason)
{
    HMODULE handle = LoadLibraryA(name);
    if (!handle)
        *reason = std::string(name) + ": cannot load (Windows error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(handle);
}

void* platform_find_symbol(void* handle, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
}

void platform_close_library(void* handle) { FreeLibrary(reinterpret_cast<HMODULE>(handle)); }
