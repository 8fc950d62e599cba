# SPDX-License-Identifier: MIT
# Compiles and runs the three-key EDE example of velkcore(3): the lines
# between the roff comments "ede3-example:begin" and "ede3-example:end",
# unescaped, become a C file that DRIVER includes and checks against the
# shared library (under EMULATOR, its words separated by commas, where set).
file(READ ${PAGE} text)
string(REGEX MATCH "ede3-example:begin[^\n]*\n(.*)\n[^\n]*ede3-example:end" found "${text}")
if(NOT found)
  message(FATAL_ERROR "${PAGE} has no ede3-example markers")
endif()
set(code "${CMAKE_MATCH_1}")
# Drop the request lines (.RS, .nf, ...) and undo the roff escapes.
string(REGEX REPLACE "(^|\n)\\.[A-Za-z]+[^\n]*" "" code "${code}")
string(REPLACE "\\-" "-" code "${code}")
string(REPLACE "\\(aq" "'" code "${code}")
string(REPLACE "\\e" "\\" code "${code}")
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/ede3_example.h "${code}\n")

separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")
get_filename_component(libdir ${LIB} DIRECTORY)
execute_process(
  COMMAND ${CC} -std=c99 -Wall -Wextra -Wpedantic -Werror ${c_flags} -I${INCLUDE} -I${WORK}
          ${DRIVER} ${LIB} -Wl,-rpath,${libdir} ${link_flags} -o ${WORK}/man_ede3_example
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example does not compile (${rc}):\n${code}\n${out}${err}")
endif()
string(REPLACE "," ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${WORK}/man_ede3_example RESULT_VARIABLE rc OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example failed (${rc}):\n${out}${err}")
endif()
message(STATUS "the velkcore(3) three-key EDE example gives the known answers")
