# 32-bit Windows (x86) with MinGW-w64: a cross build from Linux, or a native
# build from an MSYS2 MINGW32 shell. The one place that maps x86 to the
# GNU triple, the processor and the Wine loader: scripts/prepare.sh finds
# the architectures by these files' names and reads the loader from here,
# the release reads the triple (release.env).
set(WINPROBE_MINGW_TRIPLE i686-w64-mingw32)
set(WINPROBE_MINGW_PROCESSOR x86)
set(WINPROBE_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
