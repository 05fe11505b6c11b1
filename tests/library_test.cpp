// Optional libraries loaded at run time: the table is bound whole or not at
// all, and the first file name that serves is kept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/library.h"

namespace {

// Two functions every C library has.
struct c_library {
    size_t (*strlen)(const char*) = nullptr;
    int (*abs)(int) = nullptr;
};

} // namespace

TEST(Library, BindsEveryFunctionOfTheTable)
{
    c_library api;
    const library_symbol symbols[] = {library_entry("strlen", &api.strlen), library_entry("abs", &api.abs)};
    const char* names[] = {"libvexum-absent.so.1", "libc.so.6"};
    loaded_library library;
    std::string error;
    ASSERT_EQ(load_library(names, 2, symbols, 2, &library, &error), 0) << error;
    EXPECT_EQ(library.file, "libc.so.6"); // the first name did not load
    ASSERT_NE(api.strlen, nullptr);
    EXPECT_EQ(api.strlen("vexum"), 5u);
    EXPECT_EQ(api.abs(-7), 7);
    unload_library(&library);
    EXPECT_EQ(library.handle, nullptr);
    EXPECT_EQ(library.file, "");
}

TEST(Library, ALibraryWithoutEveryFunctionIsNotKept)
{
    c_library api;
    int (*missing)(int) = nullptr;
    const library_symbol symbols[] = {library_entry("strlen", &api.strlen),
                                      library_entry("vexum_no_such_function", &missing)};
    const char* names[] = {"libc.so.6"};
    loaded_library library;
    std::string error;
    EXPECT_EQ(load_library(names, 1, symbols, 2, &library, &error), -1);
    EXPECT_EQ(error, "libc.so.6: no vexum_no_such_function in it");
    EXPECT_EQ(api.strlen, nullptr); // no slot is set unless all are
    EXPECT_EQ(library.handle, nullptr);

    const char* absent[] = {"libvexum-absent.so.1", "libvexum-absent.so"};
    EXPECT_EQ(load_library(absent, 2, symbols, 1, &library, &error), -1);
    EXPECT_NE(error.find("libvexum-absent.so.1"), std::string::npos) << error; // the first name's reason
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(api.strlen, nullptr);
}
