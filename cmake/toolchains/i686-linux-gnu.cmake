# SPDX-License-Identifier: MIT
# 32-bit x86. An x86-64 machine whose kernel runs 32-bit programs runs the
# tests itself, and Valgrind runs them too. A kernel built without IA-32
# emulation refuses them ("Exec format error"); then they run under
# qemu-i386, and the Valgrind check, which cannot run there, reports itself
# skipped. Use: cmake -DCMAKE_TOOLCHAIN_FILE=this-file
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELK_CROSS_TRIPLE i686-linux-gnu)
set(VELK_CROSS_MULTIARCH i386-linux-gnu)

# Whether this machine runs an i686 program itself, found out once by
# building and starting an empty one, and handed on to try_compile. Where
# the compiler is missing, nothing is decided here: its own check says so.
if(NOT DEFINED VELK_I686_NATIVE)
  set(_velk_probe ${CMAKE_BINARY_DIR}/CMakeFiles/velk-i686-probe)
  file(WRITE ${_velk_probe}.c "int main(void) { return 0; }\n")
  execute_process(COMMAND ${VELK_CROSS_TRIPLE}-gcc ${_velk_probe}.c -o ${_velk_probe}
    RESULT_VARIABLE _velk_built OUTPUT_QUIET ERROR_QUIET)
  if(_velk_built EQUAL 0)
    execute_process(COMMAND ${_velk_probe} RESULT_VARIABLE _velk_ran OUTPUT_QUIET ERROR_QUIET)
    if(_velk_ran EQUAL 0)
      set(VELK_I686_NATIVE ON CACHE BOOL "This machine runs i686 programs itself")
    else()
      set(VELK_I686_NATIVE OFF CACHE BOOL "This machine runs i686 programs itself")
      message(WARNING "This machine cannot run 32-bit x86 programs itself: "
                      "the tests run under qemu-i386 and the Valgrind check is skipped")
    endif()
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELK_I686_NATIVE)
if(DEFINED VELK_I686_NATIVE AND NOT VELK_I686_NATIVE)
  # The programs start through the machine's own i386 loader and libraries,
  # as they would natively: with the cross compiler's copies
  # (-L /usr/i686-linux-gnu), a second thread never starts under qemu 7.2.
  set(VELK_CROSS_EMULATOR qemu-i386)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
