# Cross build of both programs as 64-bit Windows console programs with mingw-w64.
# The posix-thread compilers are used because GoogleTest needs std::thread; everything is
# linked statically so the .exe files run without the compiler's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The Wine loader that runs the tests. Debian's `wine` wrapper picks the 32-bit loader
# whenever that is installed, and with wine64 alone there is no wrapper at all, so the
# 64-bit loader is named directly; another Wine can be chosen with -DTOOLS_WINE=...
set(TOOLS_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the 64-bit programs")
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOOLS_WINE})

# The runtime's thread-safe time conversions (localtime_r) are only declared on request.
set(CMAKE_C_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
