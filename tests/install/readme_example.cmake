# SPDX-License-Identifier: MIT
# Runs the README's openssl example as written: the shell lines between the
# markers "<!-- openssl-example:begin -->" and "<!-- openssl-example:end -->",
# in an empty directory, with the installed velkfile first on the PATH. The
# example checks its own results with cmp, so any difference fails it.
file(READ ${README} text)
string(FIND "${text}" "<!-- openssl-example:begin -->" begin)
string(FIND "${text}" "<!-- openssl-example:end -->" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "the README has no openssl example between the markers")
endif()
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${text}" ${begin} ${length} block)
# Keep the lines inside the ```sh fence.
string(FIND "${block}" "```sh\n" open)
if(open EQUAL -1)
  message(FATAL_ERROR "the README's openssl example has no ```sh fence")
endif()
math(EXPR open "${open} + 6")
string(SUBSTRING "${block}" ${open} -1 block)
string(FIND "${block}" "```" close)
string(SUBSTRING "${block}" 0 ${close} block)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/example.sh "set -euo pipefail\n${block}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "PATH=${BIN}:$ENV{PATH}" ${BASH} ${WORK}/example.sh
  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the README example failed (${rc}):\n${block}\n--- output:\n${out}${err}")
endif()
message(STATUS "the README example ran:\n${out}")
