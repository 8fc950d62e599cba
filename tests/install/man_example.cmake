# SPDX-License-Identifier: MIT
# Compiles and runs an example of a library's page: the lines between the
# roff comments "MARKER:begin" and "MARKER:end" (MARKER defaults to
# ede3-example, velkcore(3)'s three-key EDE example), unescaped, become a C
# file (MARKER with "_" for "-", and ".h") that DRIVER includes and checks
# against the shared libraries LIB (several separated by commas), under
# EMULATOR (its words separated by commas) where set.
if(NOT DEFINED MARKER)
  set(MARKER ede3-example)
endif()
string(REPLACE "-" "_" name "${MARKER}")
file(READ ${PAGE} text)
string(REGEX MATCH "${MARKER}:begin[^\n]*\n(.*)\n[^\n]*${MARKER}:end" found "${text}")
if(NOT found)
  message(FATAL_ERROR "${PAGE} has no ${MARKER} markers")
endif()
set(code "${CMAKE_MATCH_1}")
# Drop the request lines (.RS, .nf, ...) and undo the roff escapes.
string(REGEX REPLACE "(^|\n)\\.[A-Za-z]+[^\n]*" "" code "${code}")
string(REPLACE "\\-" "-" code "${code}")
string(REPLACE "\\(aq" "'" code "${code}")
string(REPLACE "\\e" "\\" code "${code}")
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/${name}.h "${code}\n")

separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")
string(REPLACE "," ";" libs "${LIB}")
set(rpaths)
foreach(lib IN LISTS libs)
  get_filename_component(libdir ${lib} DIRECTORY)
  list(APPEND rpaths -Wl,-rpath,${libdir})
endforeach()
execute_process(
  COMMAND ${CC} -std=c99 -Wall -Wextra -Wpedantic -Werror ${c_flags} -I${INCLUDE} -I${WORK}
          ${DRIVER} ${libs} ${rpaths} ${link_flags} -o ${WORK}/man_${name}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example does not compile (${rc}):\n${code}\n${out}${err}")
endif()
string(REPLACE "," ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${WORK}/man_${name} RESULT_VARIABLE rc OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example failed (${rc}):\n${out}${err}")
endif()
get_filename_component(page ${PAGE} NAME)
message(STATUS "the ${MARKER} of ${page} gives the known answers")
