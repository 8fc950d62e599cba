# SPDX-License-Identifier: MIT
# What the cross toolchain files share: Debian's cross compilers for
# VELK_CROSS_TRIPLE, the target's libraries from its multiarch directory
# (GoogleTest, libcrypto: `dpkg --add-architecture`, then libgtest-dev:ARCH),
# and the programs the tests run started through VELK_CROSS_EMULATOR, where
# the build machine cannot run them itself. cmake/deps.sh test installs all
# of it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${VELK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VELK_CROSS_TRIPLE}-g++)
# Libraries are looked for in /usr/lib/<this>, never in the build machine's
# own multiarch directory, and pkg-config reads the target's files only.
set(CMAKE_LIBRARY_ARCHITECTURE ${VELK_CROSS_MULTIARCH})
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VELK_CROSS_MULTIARCH}/pkgconfig:/usr/share/pkgconfig)
if(VELK_CROSS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELK_CROSS_EMULATOR})
endif()
