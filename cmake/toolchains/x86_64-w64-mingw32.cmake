# SPDX-License-Identifier: MIT
# 64-bit Windows with Debian's mingw-w64 cross compiler: the shared library
# (libvelkcore.dll) only, as the programs are POSIX programs. Use:
# cmake -DCMAKE_TOOLCHAIN_FILE=this-file
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
