# SPDX-License-Identifier: MIT
# 32-bit x86. An x86-64 machine runs its programs itself, so there is no
# emulator, and Valgrind runs them too. Use: cmake -DCMAKE_TOOLCHAIN_FILE=this-file
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELK_CROSS_TRIPLE i686-linux-gnu)
set(VELK_CROSS_MULTIARCH i386-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
