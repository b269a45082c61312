# 32-bit Windows (x86) with MinGW-w64: a cross build from Linux, or a native
# build from an MSYS2 MINGW32 shell. The one place that maps x86 to the
# tools' own names; scripts/prepare.sh reads the Wine loader from here.
set(WINPROBE_MINGW_TRIPLE i686-w64-mingw32)
set(WINPROBE_MINGW_PROCESSOR x86)
set(WINPROBE_WINE_LOADER /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
