# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix and checks what landed there: the
# headers, the library with its SONAME and version links, the package files,
# the manual pages, the README and the licence, and the programs that are
# built.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
endif()

string(REGEX MATCH "^[0-9]+" major "${VERSION}")
set(expected
  ${INCLUDEDIR}/velkcore.h
  ${INCLUDEDIR}/velkcore.hpp
  ${LIBDIR}/libvelkcore.so.${VERSION}
  ${LIBDIR}/pkgconfig/velkcore.pc
  ${LIBDIR}/cmake/velkcore/velkcoreConfig.cmake
  ${LIBDIR}/cmake/velkcore/velkcoreConfigVersion.cmake
  ${LIBDIR}/cmake/velkcore/velkcoreTargets.cmake
  ${MANDIR}/man3/velkcore.3
  ${DOCDIR}/README.md
  ${DOCDIR}/LICENSE)
string(REPLACE "," ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
  list(APPEND expected ${BINDIR}/${program} ${MANDIR}/man1/${program}.1)
endforeach()
foreach(f IN LISTS expected)
  if(NOT EXISTS ${PREFIX}/${f} OR IS_SYMLINK ${PREFIX}/${f})
    message(FATAL_ERROR "not installed as a file: ${f}")
  endif()
endforeach()

# libvelkcore.so -> libvelkcore.so.MAJOR -> libvelkcore.so.VERSION
foreach(link_target IN ITEMS "libvelkcore.so;libvelkcore.so.${major}"
                             "libvelkcore.so.${major};libvelkcore.so.${VERSION}")
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
  execute_process(COMMAND ${READELF} -d ${PREFIX}/${LIBDIR}/libvelkcore.so.${VERSION}
    OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT dyn MATCHES "\\(SONAME\\)[^\n]*\\[libvelkcore\\.so\\.${major}\\]")
    message(FATAL_ERROR "the installed library does not carry SONAME libvelkcore.so.${major}:\n${dyn}")
  endif()
endif()

# Nothing of the build's internals: no static archive, no test programs.
file(GLOB_RECURSE stray RELATIVE ${PREFIX} ${PREFIX}/*.a ${PREFIX}/*test*)
if(stray)
  message(FATAL_ERROR "installed but not meant to be: ${stray}")
endif()
message(STATUS "installed into ${PREFIX}: ${expected}")
