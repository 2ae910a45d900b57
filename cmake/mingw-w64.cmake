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

# Qt for Windows, unpacked somewhere on this machine (the windows preset unpacks it into the
# build folder). Qt's packages are looked up only below the find roots, so its tree must be one.
set(RZT_QT_WINDOWS_DIR "" CACHE PATH "Unpacked Qt for Windows (MinGW-w64) to build the program against")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES RZT_QT_WINDOWS_DIR)
if(RZT_QT_WINDOWS_DIR)
    list(APPEND CMAKE_FIND_ROOT_PATH ${RZT_QT_WINDOWS_DIR})
endif()
