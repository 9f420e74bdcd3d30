# Cross build of both programs as 64-bit Windows console programs with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(mingw_triplet x86_64-w64-mingw32)

# The Wine loader that runs the tests. Debian's `wine` wrapper picks the 32-bit loader
# whenever that is installed, and with wine64 alone there is no wrapper at all, so the
# 64-bit loader is named directly; another Wine can be chosen with -DTOOLS_WINE=...
set(TOOLS_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the 64-bit programs")

include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
