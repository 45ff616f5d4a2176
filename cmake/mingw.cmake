# SPDX-License-Identifier: MIT
# Shared part of the MinGW-w64 toolchain files: Debian's cross compilers for the triple in
# KT_MINGW_TRIPLE, with the programs run under Wine of the matching width.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KT_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# The runtime libraries go into each program and DLL, so nothing else needs copying.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
# Cross-built tests run under Wine, in a prefix of the build's width that the wrapper prepares.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh ${KT_WINE_ARCH})
