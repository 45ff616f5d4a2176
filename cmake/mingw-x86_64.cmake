# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit Windows with Debian's MinGW-w64. The same program and tests as
# the 32-bit build, so that they run under 64-bit Wine on machines that cannot execute
# 32-bit x86 code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KT_MINGW_TRIPLE x86_64-w64-mingw32)
set(KT_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
