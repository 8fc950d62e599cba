# SPDX-License-Identifier: MIT
# Runs a transcript of the README: the ```console block between the markers
# "<!-- MARKER:begin -->" and "<!-- MARKER:end -->". Each line that starts
# with "$ " is a command, run by bash in an empty directory (the same one for
# all, so a command may read what an earlier one wrote) with BIN first on the
# PATH; the lines after it, up to the next command, are exactly what it must
# print on stdout. A command that fails, or prints anything else, fails the
# test. (The block may hold no ";", which would cut a CMake list.)
file(READ ${README} text)
string(FIND "${text}" "<!-- ${MARKER}:begin -->" begin)
string(FIND "${text}" "<!-- ${MARKER}:end -->" end)
if(begin EQUAL -1 OR end EQUAL -1 OR end LESS begin)
  message(FATAL_ERROR "the README has no ${MARKER} block between the markers")
endif()
math(EXPR length "${end} - ${begin}")
string(SUBSTRING "${text}" ${begin} ${length} block)
string(FIND "${block}" "```console\n" open)
if(open EQUAL -1)
  message(FATAL_ERROR "the README's ${MARKER} has no ```console fence")
endif()
math(EXPR open "${open} + 11")
string(SUBSTRING "${block}" ${open} -1 block)
string(FIND "${block}" "```" close)
string(SUBSTRING "${block}" 0 ${close} block)
string(FIND "${block}" ";" semicolon)
if(NOT semicolon EQUAL -1)
  message(FATAL_ERROR "the README's ${MARKER} holds a \";\"")
endif()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
string(REGEX REPLACE "\n$" "" block "${block}")
string(REPLACE "\n" ";" lines "${block}")
set(script "set -euo pipefail\n")
set(count 0)
set(expected)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\$ (.*)")
    math(EXPR count "${count} + 1")
    file(WRITE ${WORK}/expected.${count} "")
    string(APPEND script "echo \"$ \"${count}\n{ ${CMAKE_MATCH_1}\n} > got.${count}\n"
      "diff -u expected.${count} got.${count}\n")
  elseif(count EQUAL 0)
    message(FATAL_ERROR "the README's ${MARKER} starts with output: ${line}")
  else()
    file(APPEND ${WORK}/expected.${count} "${line}\n")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "the README's ${MARKER} has no command")
endif()
file(WRITE ${WORK}/transcript.sh "${script}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env "PATH=${BIN}:$ENV{PATH}" ${BASH} ${WORK}/transcript.sh
  WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the README's ${MARKER} differs (${rc}):\n${block}\n--- run:\n${out}${err}")
endif()
message(STATUS "the README's ${MARKER}: ${count} commands print what it shows")
