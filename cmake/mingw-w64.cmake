# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads variant).
# Programs built with it run on Linux under Wine: the build that uses this file sets
# CMAKE_CROSSCOMPILING_EMULATOR to its Wine runner.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RZT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RZT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RZT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RZT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RZT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
