# What the two Windows cross builds share; the toolchain files set
# CMAKE_SYSTEM_PROCESSOR and VEXUM_WINDOWS_TRIPLET, then include this.
# The -posix compilers give std::thread and std::mutex; the runtime is linked
# statically so that vexum.exe needs nothing beside it.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VEXUM_WINDOWS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXUM_WINDOWS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXUM_WINDOWS_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXUM_WINDOWS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks in the cross root only, so that libraries of the build
# machine (libiscsi) are not taken for Windows ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${VEXUM_WINDOWS_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
