# SPDX-License-Identifier: MIT
# 64-bit ARM, run under qemu-user. Use: cmake -DCMAKE_TOOLCHAIN_FILE=this-file
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VELK_CROSS_TRIPLE aarch64-linux-gnu)
set(VELK_CROSS_MULTIARCH aarch64-linux-gnu)
set(VELK_CROSS_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
