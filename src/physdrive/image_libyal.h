// Internal to src/physdrive: what the libyal image libraries share. Each
// library has the same calls in the same shape (its objects and errors are
// opaque intptr_t), named "<library>_<object>_<call>"; the core opens an
// image (and its parents) with them, reads and closes it. One small file
// per library names its calls, checks them against the library's header,
// and reads what only that library tells.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <sys/types.h>
#include <type_traits>
#include <vector>

#include "library/library.h"
#include "physdrive/container.h"

using yal_object = intptr_t;
using yal_error = intptr_t;

struct library_image;

struct libyal_api {
    const char* library = nullptr; // "libvhdi"
    int read_access = 1;           // the library's read-only access flags
    int (*initialize)(yal_object**, yal_error**) = nullptr;
    int (*free)(yal_object**, yal_error**) = nullptr;
    int (*open)(yal_object*, const char*, int, yal_error**) = nullptr; // null: the library opens a file list
    int (*close)(yal_object*, yal_error**) = nullptr;
    ssize_t (*read_at)(yal_object*, void*, size_t, int64_t, yal_error**) = nullptr;
    int (*media_size)(yal_object*, uint64_t*, yal_error**) = nullptr;
    int (*error_sprint)(yal_error*, char*, size_t) = nullptr; // the error's backtrace
    void (*error_free)(yal_error**) = nullptr;
    // Differencing images: the parent's (backing file's) name and the call
    // that joins an opened parent to its child. Null where there are none.
    int (*parent_name_size)(yal_object*, size_t*, yal_error**) = nullptr;
    int (*parent_name)(yal_object*, uint8_t*, size_t, yal_error**) = nullptr;
    int (*set_parent)(yal_object*, yal_object*, yal_error**) = nullptr;
    // A step after each file of the chain is opened (VMDK: its extent
    // files). 0, or CONTAINER_REFUSED with reason set.
    std::function<int(yal_object* object, const std::string& path, std::string* reason)> after_open;
    // The libraries cache a fixed number of their blocks and tables per
    // opened file, and no call of theirs sizes or empties these caches
    // (libqcow: 128 clusters and 64 level-2 tables, 12 MiB with 64 KiB
    // clusters and 384 MiB with 2 MiB ones; libvhdi: 8 blocks, each with a
    // record per sector range of its bitmap). Closing the file frees them.
    // When true, the image is opened again once its reads have added more
    // to the heap than read_heap_budget allows.
    bool drops_caches = false;
};

struct library_image {
    loaded_library library; // unloaded last, after every object is freed
    libyal_api api;
    std::vector<yal_object*> objects; // the image first, then its parents, each closed and freed in turn
    std::string path;                 // the image's file, opened again when api.drops_caches
    uint64_t media_size = 0;          // the disk's size when first opened, which each opening must find again
    int64_t read_heap = 0;            // what the reads since the last opening have added to the heap
    size_t largest_read_heap = 0;     // the most a single read has added
};

// The names of a library's calls beyond "<library>_<object>_": the read
// at an offset, and for differencing images the parent's name (its size
// call is the name and "_size") and the call that joins a parent; null
// where the library has none.
struct libyal_names {
    const char* object;      // "file", "handle"
    const char* read;        // "read_buffer_at_offset"
    bool opens_one_file;     // "<object>_open" opens one file by name
    const char* parent_name; // "get_utf8_parent_filename"
    const char* set_parent;  // "set_parent_file"
};

// The functions a library is loaded for: the calls of libyal_api that its
// names give, then the library's own, bound all together or not at all.
struct libyal_table {
    std::deque<std::string> names; // the symbols' names, which stay where they are
    std::vector<library_symbol> symbols;

    template <typename F>
    void add(const std::string& name, F* slot)
    {
        names.push_back(name);
        symbols.push_back(library_entry(names.back().c_str(), slot));
    }
};

void add_libyal_api(libyal_table* table, libyal_api* api, const libyal_names& names);
// Loads the library file (the build's soname of it) with every function of
// table. 0, or CONTAINER_UNUSABLE with reason naming the library and why.
int load_libyal(library_image* image, const char* file, const libyal_table& table, const container_header& header,
                std::string* reason);

// The path of the file name (its last part only) in the folder of path.
std::string file_beside(const std::string& path, const std::string& name);
// Checks a file the library is about to open for an image (a parent, a
// segment, an extent) before it does: it must open at once and be a regular
// file or a disk, so that a FIFO put in its place cannot hold the run. 0, or
// CONTAINER_REFUSED with reason naming it (what: "parent", "segment", ...).
int check_companion_file(const std::string& path, const char* what, std::string* reason);

// The library's error as one line (and the error freed); fallback when it
// says nothing.
std::string take_libyal_error(const libyal_api& api, yal_error** error, const char* fallback);
// Opens path with api.open, then, while the image has a parent, the parent
// beside it (its name's last component in the same folder), at most
// MAX_PARENT_DEPTH deep. header->parent is set to the first parent's path.
// 0, or CONTAINER_REFUSED with reason set.
constexpr int MAX_PARENT_DEPTH = 16;
int open_libyal_chain(library_image* image, const char* path, container_header* header, std::string* reason);
// Opens the image's chain again, which frees what the library cached (see
// libyal_api::drops_caches). The files must still hold the disk first
// opened, as far as its size tells. 0, or -1 with reason set and nothing
// left open, so that every later read fails too.
int reopen_library_image(library_image* image, std::string* reason);

// Checks that a library's function, as its header declares it, has the
// shape of the api's call that it is bound to.
#define VEXUM_SAME_CALL(function, call)                                                                   \
    static_assert(std::is_same<decltype(&function), decltype(libyal_api::call)>::value,                 \
                  #function " has the shape of libyal_api::" #call)

// The libraries: each loads its file, opens the image and fills the header.
// 0, CONTAINER_REFUSED or CONTAINER_UNUSABLE.
int open_vhdi_image(const char* file, const char* path, container_header* header, library_image* image,
                    std::string* reason);
int open_vmdk_image(const char* file, const char* path, container_header* header, library_image* image,
                    std::string* reason);
int open_qcow_image(const char* file, const char* path, container_header* header, library_image* image,
                    std::string* reason);
int open_ewf_image(const char* file, const char* path, container_header* header, library_image* image,
                   std::string* reason);
