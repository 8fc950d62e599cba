# SPDX-License-Identifier: MIT
# Compares the dynamic symbols that a shared library defines with the
# expected public names. Called as
#   cmake -DLIB=path -DNM=nm -DEXPECTED="a;b;c" [-DCOUNT=n] -P check_exports.cmake
# COUNT guards the list itself against a name dropped from it.
execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
  # "address type name"; the version node of the map shows up as an absolute
  # symbol (type A) and is not a function of ours.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) ([^ @]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND found ${CMAKE_MATCH_2})
    endif()
  endif()
endforeach()
list(SORT found)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${found}")
endif()
list(LENGTH found n)
if(DEFINED COUNT AND NOT n EQUAL COUNT)
  message(FATAL_ERROR "${n} public names exported, ${COUNT} expected: ${found}")
endif()
message(STATUS "exactly the ${n} public names are exported")
