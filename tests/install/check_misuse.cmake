# SPDX-License-Identifier: MIT
# Compiles misuse.cpp for one case: the control must compile cleanly; any
# other case must be refused, and the first error must be reported on the
# line that names the case, so a typo elsewhere cannot pass for the refusal.
# With -DSTD=c++17 (or another standard) and -DFIRST_ERROR=text, the
# compilation must fail instead and its first error must contain the text.
foreach(var CXX INCLUDE SOURCE CASE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_misuse.cmake needs -D${var}=...")
  endif()
endforeach()
if(NOT DEFINED STD)
  set(STD c++20)
endif()

execute_process(
  COMMAND ${CXX} -std=${STD} -fsyntax-only -Wall -Wextra -Wpedantic -I${INCLUDE}
          -DVELK_MISUSE_${CASE} ${SOURCE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)

if(DEFINED FIRST_ERROR)
  string(REGEX MATCH "[^\n]*error:[^\n]*" first "${err}")
  string(FIND "${first}" "${FIRST_ERROR}" at)
  if(rc EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "-std=${STD} must fail with \"${FIRST_ERROR}\" first "
                        "(exit ${rc}):\n${err}")
  endif()
  message(STATUS "-std=${STD} refused: ${first}")
  return()
endif()

if(CASE STREQUAL "control")
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "the correct uses did not compile cleanly (exit ${rc}):\n${err}")
  endif()
  message(STATUS "control compiles")
  return()
endif()

file(STRINGS ${SOURCE} lines)
set(line 0)
set(marked 0)
foreach(text IN LISTS lines)
  math(EXPR line "${line} + 1")
  if(text MATCHES "// ${CASE}$")
    set(marked ${line})
  endif()
endforeach()
if(marked EQUAL 0)
  message(FATAL_ERROR "no line marked // ${CASE} in ${SOURCE}")
endif()

if(rc EQUAL 0)
  message(FATAL_ERROR "misuse '${CASE}' compiled, but it must not")
endif()
string(REGEX MATCH "misuse\\.cpp:([0-9]+):[0-9]+: (fatal )?error" first "${err}")
if(NOT CMAKE_MATCH_1 EQUAL marked)
  message(FATAL_ERROR "misuse '${CASE}' failed, but its first error is not on line "
                      "${marked}:\n${err}")
endif()
message(STATUS "misuse '${CASE}' refused on line ${marked}")
