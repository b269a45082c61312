# 64-bit Windows (x64) with MinGW-w64: a cross build from Linux, or a native
# build from an MSYS2 UCRT64 shell. The one place that maps x64 to the
# GNU triple, the processor and the Wine loader: scripts/prepare.sh finds
# the architectures by these files' names and reads the loader from here,
# the release reads the triple (release.env).
set(WINPROBE_MINGW_TRIPLE x86_64-w64-mingw32)
set(WINPROBE_MINGW_PROCESSOR AMD64)
set(WINPROBE_WINE_LOADER /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
