# Cross build for 32-bit Windows (the build that loads the 32-bit ASPI managers) with mingw-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VEXUM_WINDOWS_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/windows-mingw-common.cmake)

# Programs of this build run under Wine (the tests, through CTest).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run wine)
