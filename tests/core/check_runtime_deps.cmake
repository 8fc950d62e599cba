# SPDX-License-Identifier: MIT
# Checks that a shared library needs nothing at run time beyond the C
# library (and the libraries named in ALLOW_NEEDED): no C++ runtime among
# its NEEDED entries, and no undefined symbol but the C library's versioned
# ones, the weak hooks every shared object carries, and the names matched by
# ALLOW_UNDEFINED. Called as
#   cmake -DLIB=path -DNM=nm -DOBJDUMP=objdump [-DALLOW_NEEDED=regex]
#         [-DALLOW_UNDEFINED=regex] -P check_runtime_deps.cmake
set(needed_ok "^(libc\\.so\\.[0-9]+|ld-linux[-a-z0-9_.]*\\.so\\.[0-9]+)$")
if(DEFINED ALLOW_NEEDED AND NOT ALLOW_NEEDED STREQUAL "")
  set(needed_ok "${needed_ok}|${ALLOW_NEEDED}")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(bad_needed "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*NEEDED[ \t]+([^ \t]+)")
    if(NOT CMAKE_MATCH_1 MATCHES "${needed_ok}")
      list(APPEND bad_needed ${CMAKE_MATCH_1})
    endif()
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --undefined-only ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} -D --undefined-only failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(bad_undefined "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[ \t]*([A-Za-z]) ([^ ]+)$")
    continue()
  endif()
  set(kind ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  if(kind STREQUAL "w" OR kind STREQUAL "v" OR name MATCHES "@GLIBC_[0-9.]+$")
    continue()
  endif()
  if(DEFINED ALLOW_UNDEFINED AND NOT ALLOW_UNDEFINED STREQUAL "" AND name MATCHES "${ALLOW_UNDEFINED}")
    continue()
  endif()
  list(APPEND bad_undefined ${name})
endforeach()

if(bad_needed OR bad_undefined)
  message(FATAL_ERROR "${LIB} needs more than the C library:\n"
    "  NEEDED beyond it: ${bad_needed}\n  undefined symbols beyond it: ${bad_undefined}")
endif()
message(STATUS "${LIB} needs the C library only")
