# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and std::mutex need). The executables link statically and need no DLLs, unless
# a toolchain that includes this one sets KELVASTON_MINGW_SHARED_RUNTIME (cmake/mingw-w64-qt.cmake:
# Qt's DLLs use the runtime's DLLs, and a program linked against them must share those).
# Tests run under Wine through cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kelvaston_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_kelvaston_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kelvaston_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_kelvaston_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_kelvaston_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT KELVASTON_MINGW_SHARED_RUNTIME)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()
# advapi32 is among the libraries CMake links into every Windows executable; the platform
# library also names it, for builds that drop the defaults.

# One Wine prefix per build tree, created on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
