# 64-bit Windows with MinGW-w64: a cross build from Linux, or a native build
# from an MSYS2 UCRT64 shell.
set(WINPROBE_MINGW_TRIPLE x86_64-w64-mingw32)
set(WINPROBE_MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
