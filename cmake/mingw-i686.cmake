# Cross build of both programs as 32-bit Windows console programs with mingw-w64.
# The posix-thread compilers are used because GoogleTest needs std::thread; everything is
# linked statically so the .exe files run without the compiler's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The Wine loader that runs the tests: Wine's 32-bit loader (from wine32:i386), named
# directly so that no wrapper script decides; another can be chosen with -DTOOLS_WINE=...
set(TOOLS_WINE /usr/lib/wine/wine CACHE FILEPATH "Wine loader that runs the 32-bit programs")
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOOLS_WINE})

# The runtime's thread-safe time conversions (localtime_r) are only declared on request.
set(CMAKE_C_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
set(CMAKE_CXX_FLAGS_INIT "-D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
