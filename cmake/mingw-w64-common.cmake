# Shared part of the two MinGW-w64 toolchain files. Binaries link the compiler runtime
# statically so that they load on a machine that has only Windows, and run under Wine
# when CTest executes them on Linux.
set(CMAKE_C_COMPILER ${T32_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${T32_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${T32_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${T32_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
