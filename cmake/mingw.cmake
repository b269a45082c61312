# Shared by the MinGW-w64 toolchain files, which set WINPROBE_MINGW_TRIPLE,
# WINPROBE_MINGW_PROCESSOR and WINPROBE_WINE_LOADER first: a cross build from
# Linux, or a native build from an MSYS2 shell.
if(CMAKE_HOST_WIN32)
  set(CMAKE_C_COMPILER gcc)
  set(CMAKE_CXX_COMPILER g++)
  set(CMAKE_RC_COMPILER windres)
  return()
endif()

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${WINPROBE_MINGW_PROCESSOR})

# The posix thread model gives GoogleTest the std::mutex it needs; the
# product is linked statically and starts no thread of its own.
set(triple ${WINPROBE_MINGW_TRIPLE})
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc-posix ${triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-posix ${triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The tests are Windows programs: ctest starts them under this build's Wine
# loader, behind the wrapper that says how a start failed, unless the caller
# names an emulator.
cmake_path(SET winprobe_wine_wrapper NORMALIZE ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-emulator.sh)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # Configuring and building need no Wine: CMakeLists.txt says where the
  # loader is missing.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${winprobe_wine_wrapper} ${WINPROBE_WINE_LOADER})
endif()
