# 32-bit Windows with MinGW-w64: a cross build from Linux (tests run under
# Wine), or a native build from an MSYS2 MINGW32 shell.
if(CMAKE_HOST_WIN32)
  set(CMAKE_C_COMPILER gcc)
  set(CMAKE_CXX_COMPILER g++)
  set(CMAKE_RC_COMPILER windres)
  return()
endif()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The posix thread model gives GoogleTest the std::mutex it needs; the
# product is linked statically and starts no thread of its own.
find_program(CMAKE_C_COMPILER NAMES i686-w64-mingw32-gcc-posix i686-w64-mingw32-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES i686-w64-mingw32-g++-posix i686-w64-mingw32-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES i686-w64-mingw32-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Test programs are Windows programs: run them under Wine.
find_program(WINE_PROGRAM NAMES wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
