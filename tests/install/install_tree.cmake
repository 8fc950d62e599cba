# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix and checks what landed there: the
# headers, each library (LIBRARIES, separated by commas: velkcore and, where
# it is built, velkpay) with its SONAME and version links, its package files
# and manual page, the README and the licence, and the programs that are
# built.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

string(REGEX MATCH "^[0-9]+" major "${VERSION}")
if(NOT DEFINED LIBRARIES)
  set(LIBRARIES velkcore)
endif()
string(REPLACE "," ";" libraries "${LIBRARIES}")
set(expected ${DOCDIR}/README.md ${DOCDIR}/LICENSE)
foreach(library IN LISTS libraries)
  list(APPEND expected
    ${INCLUDEDIR}/${library}.h
    ${INCLUDEDIR}/${library}.hpp
    ${LIBDIR}/lib${library}.so.${VERSION}
    ${LIBDIR}/pkgconfig/${library}.pc
    ${LIBDIR}/cmake/${library}/${library}Config.cmake
    ${LIBDIR}/cmake/${library}/${library}ConfigVersion.cmake
    ${LIBDIR}/cmake/${library}/${library}Targets.cmake
    ${MANDIR}/man3/${library}.3)
endforeach()
string(REPLACE "," ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
  list(APPEND expected ${BINDIR}/${program} ${MANDIR}/man1/${program}.1)
endforeach()
foreach(f IN LISTS expected)
  if(NOT EXISTS ${PREFIX}/${f} OR IS_SYMLINK ${PREFIX}/${f})
    message(FATAL_ERROR "not installed as a file: ${f}")
  endif()
endforeach()

# libNAME.so -> libNAME.so.MAJOR -> libNAME.so.VERSION, and the SONAME.
foreach(library IN LISTS libraries)
  foreach(link_target IN ITEMS "lib${library}.so;lib${library}.so.${major}"
                               "lib${library}.so.${major};lib${library}.so.${VERSION}")
    list(GET link_target 0 link)
    list(GET link_target 1 target)
    if(NOT IS_SYMLINK ${PREFIX}/${LIBDIR}/${link})
      message(FATAL_ERROR "${LIBDIR}/${link} is not a symbolic link")
    endif()
    file(READ_SYMLINK ${PREFIX}/${LIBDIR}/${link} points_to)
    if(NOT points_to STREQUAL target)
      message(FATAL_ERROR "${LIBDIR}/${link} points to ${points_to}, not ${target}")
    endif()
  endforeach()

  if(READELF)
    execute_process(COMMAND ${READELF} -d ${PREFIX}/${LIBDIR}/lib${library}.so.${VERSION}
      OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT dyn MATCHES "\\(SONAME\\)[^\n]*\\[lib${library}\\.so\\.${major}\\]")
      message(FATAL_ERROR "the installed library does not carry SONAME lib${library}.so.${major}:\n${dyn}")
    endif()
    # libvelkpay takes DES from libvelkcore.so rather than carrying a copy.
    if(library STREQUAL "velkpay"
       AND NOT dyn MATCHES "\\(NEEDED\\)[^\n]*\\[libvelkcore\\.so\\.${major}\\]")
      message(FATAL_ERROR "libvelkpay does not load libvelkcore.so.${major}:\n${dyn}")
    endif()
  endif()
endforeach()

# Nothing of the build's internals: no static archive, no test programs.
file(GLOB_RECURSE stray RELATIVE ${PREFIX} ${PREFIX}/*.a ${PREFIX}/*test*)
if(stray)
  message(FATAL_ERROR "installed but not meant to be: ${stray}")
endif()
message(STATUS "installed into ${PREFIX}: ${expected}")
