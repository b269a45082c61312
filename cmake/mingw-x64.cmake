# 64-bit Windows with MinGW-w64: a cross build from Linux, or a native build
# from an MSYS2 UCRT64 shell. The tests run under the 64-bit Wine loader
# itself: Debian's wine wrapper prefers the 32-bit one whenever it is
# installed, even where the kernel cannot run it.
set(WINPROBE_MINGW_TRIPLE x86_64-w64-mingw32)
set(WINPROBE_MINGW_PROCESSOR AMD64)
set(WINPROBE_WINE_LOADER wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
