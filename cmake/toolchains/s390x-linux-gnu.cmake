# SPDX-License-Identifier: MIT
# IBM Z, 64-bit big-endian, run under qemu-user. Use: cmake -DCMAKE_TOOLCHAIN_FILE=this-file
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(VELK_CROSS_TRIPLE s390x-linux-gnu)
set(VELK_CROSS_MULTIARCH s390x-linux-gnu)
set(VELK_CROSS_EMULATOR qemu-s390x -L /usr/s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
