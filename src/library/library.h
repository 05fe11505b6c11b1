// Optional libraries loaded at run time (libiscsi, the disk image libraries):
// a run that does not use one never loads it, and a build or a machine
// without it still runs everything else. A caller lists the functions it
// needs in a table of typed slots; the library is kept only when it holds
// every one of them.
#pragma once
#include <cstddef>
#include <string>

// One function the caller needs: its name and the typed slot that receives
// its address.
struct library_symbol {
    const char* name;
    void* slot;
    void (*assign)(void* slot, void* address);
};

template <typename F>
library_symbol library_entry(const char* name, F* slot)
{
    return {name, slot, [](void* s, void* address) { *static_cast<F*>(s) = reinterpret_cast<F>(address); }};
}

struct loaded_library {
    void* handle = nullptr;
    std::string file; // the name that loaded
};

// Tries the file names in order and keeps the first that loads and holds
// every symbol: library filled, every slot set, 0. Otherwise -1, nothing
// loaded and no slot changed, and error one line naming what is missing
// (the first name's failure, or the first symbol the library lacks).
int load_library(const char* const* names, size_t name_count, const library_symbol* symbols, size_t symbol_count,
                 loaded_library* library, std::string* error);
void unload_library(loaded_library* library);

// The system's loader, one file per platform: open a library (null and the
// reason when it cannot), find a symbol (null when absent), close it.
void* platform_open_library(const char* name, std::string* reason);
void* platform_find_symbol(void* handle, const char* name);
void platform_close_library(void* handle);
