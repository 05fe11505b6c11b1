// Shared libraries loaded at run time. An optional library (libiscsi, the
// image libraries) is loaded only by a run that uses it: a run that does not
// maps, relocates and initialises nothing of it. One file per platform
// implements the three calls beneath the record.
#pragma once
#include <cstring>
#include <string>

// A loaded library, unloaded when the record goes. Function addresses taken
// from it are valid while it lives.
struct dynamic_library {
    void* handle = nullptr;

    dynamic_library() = default;
    dynamic_library(const dynamic_library&) = delete;
    dynamic_library& operator=(const dynamic_library&) = delete;
    dynamic_library(dynamic_library&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    dynamic_library& operator=(dynamic_library&& other) noexcept;
    ~dynamic_library();
};

// Loads the library file `name`, looked for the system's usual way (a
// soname such as "libvhdi.so.1", a DLL name). 0, or -1 with error set to the
// system loader's reason in one line.
int load_dynamic_library(const char* name, dynamic_library* library, std::string* error);
// The address of an exported symbol, or null.
void* find_dynamic_symbol(const dynamic_library& library, const char* name);
void unload_dynamic_library(dynamic_library* library);

inline dynamic_library::~dynamic_library() { unload_dynamic_library(this); }

inline dynamic_library& dynamic_library::operator=(dynamic_library&& other) noexcept
{
    if (this != &other) {
        unload_dynamic_library(this);
        handle = other.handle;
        other.handle = nullptr;
    }
    return *this;
}

// Sets *function to the library's symbol `name`; false (and null) when the
// library has none.
template <typename F>
bool bind_dynamic_function(const dynamic_library& library, const char* name, F* function)
{
    void* address = find_dynamic_symbol(library, name);
    static_assert(sizeof *function == sizeof address, "entry points are plain addresses");
    *function = nullptr;
    if (address != nullptr)
        std::memcpy(function, &address, sizeof address);
    return address != nullptr;
}
