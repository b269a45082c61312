# 32-bit Windows with MinGW-w64: a cross build from Linux, or a native build
# from an MSYS2 MINGW32 shell.
set(WINPROBE_MINGW_TRIPLE i686-w64-mingw32)
set(WINPROBE_MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
