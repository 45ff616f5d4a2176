# SPDX-License-Identifier: MIT
# Cross-compiles for 32-bit Windows with Debian's MinGW-w64: the vendor's board libraries
# are 32-bit, so the program that loads them is too. This is the shipping build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KT_MINGW_TRIPLE i686-w64-mingw32)
set(KT_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
