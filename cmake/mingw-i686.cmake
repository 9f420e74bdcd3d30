# Cross build of both programs as 32-bit Windows console programs with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(mingw_triplet i686-w64-mingw32)

# The Wine loader that runs the tests: Wine's 32-bit loader (from wine32:i386), named
# directly so that no wrapper script decides; another can be chosen with -DTOOLS_WINE=...
set(TOOLS_WINE /usr/lib/wine/wine CACHE FILEPATH "Wine loader that runs the 32-bit programs")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
