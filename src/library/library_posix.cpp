// The dynamic loader of POSIX systems.
#include "library/library.h"

#include <dlfcn.h>

void* platform_open_library(const char* name, std::string* reason)
{
    // Every symbol bound at once, none offered to what loads later.
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        *reason = text ? text : std::string(name) + ": cannot load";
    }
    return handle;
}

void* platform_find_symbol(void* handle, const char* name) { return dlsym(handle, name); }

void platform_close_library(void* handle) { dlclose(handle); }
