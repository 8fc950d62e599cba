# SPDX-License-Identifier: MIT
# Renders one manual page and fails on any warning: groff with every warning
# enabled, and mandoc's linter where it is installed. With -DVERSION=x.y.z
# the page's title line must also name that version of velk.
if(DEFINED VERSION)
  file(STRINGS ${PAGE} title REGEX "^\\.TH ")
  string(FIND "${title}" "\"velk ${VERSION}\"" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${PAGE}: the title line does not name velk ${VERSION}: ${title}")
  endif()
endif()
if(GROFF)
  execute_process(COMMAND ${GROFF} -ww -z -man ${PAGE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "groff -ww -z -man ${PAGE} (exit ${rc}):\n${err}")
  endif()
  # Lines that do not fit the terminal width show up as warnings only when
  # formatted for it.
  execute_process(COMMAND ${GROFF} -ww -man -Tutf8 ${PAGE}
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "groff -ww -man -Tutf8 ${PAGE} (exit ${rc}):\n${err}")
  endif()
endif()
if(MANDOC)
  execute_process(COMMAND ${MANDOC} -T lint -W warning ${PAGE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "mandoc -T lint ${PAGE} (exit ${rc}):\n${out}${err}")
  endif()
endif()
message(STATUS "${PAGE} renders cleanly")
