// Loading an optional library and binding a table of its functions.
#include "library/library.h"

#include <vector>

int load_library(const char* const* names, size_t name_count, const library_symbol* symbols, size_t symbol_count,
                 loaded_library* library, std::string* error)
{
    std::string first_error = "no library named";
    for (size_t n = 0; n < name_count; n++) {
        std::string reason;
        void* handle = platform_open_library(names[n], &reason);
        if (!handle) {
            if (n == 0)
                first_error = reason;
            continue;
        }
        std::vector<void*> addresses(symbol_count);
        size_t found = 0;
        while (found < symbol_count && (addresses[found] = platform_find_symbol(handle, symbols[found].name)))
            found++;
        if (found < symbol_count) {
            if (n == 0)
                first_error = std::string(names[n]) + ": no " + symbols[found].name + " in it";
            platform_close_library(handle);
            continue;
        }
        for (size_t i = 0; i < symbol_count; i++)
            symbols[i].assign(symbols[i].slot, addresses[i]);
        library->handle = handle;
        library->file = names[n];
        return 0;
    }
    *error = first_error;
    return -1;
}

void unload_library(loaded_library* library)
{
    if (library->handle)
        platform_close_library(library->handle);
    *library = loaded_library();
}
