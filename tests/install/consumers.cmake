# SPDX-License-Identifier: MIT
# Builds one consumer against the installed prefix, runs it and compares what
# it prints with the FIPS 81 and SP 800-67 sample ciphertexts and with the
# version of the build, which the package files must carry as well.
#   WHICH=pkgconfig: consumer_c99.c, compiled with `pkg-config --cflags --libs`;
#   WHICH=cmake: the consumer/ project, configured with find_package(velkcore).
# With EMULATOR (its words separated by commas) the consumer runs under it.
set(work ${WORK}/${WHICH})
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
separate_arguments(c_flags UNIX_COMMAND "${C_FLAGS}")
separate_arguments(link_flags UNIX_COMMAND "${LINK_FLAGS}")
string(REPLACE "," ";" emulator "${EMULATOR}")

function(run_checked what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${work}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

if(WHICH STREQUAL "pkgconfig")
  set(ENV{PKG_CONFIG_PATH} ${PREFIX}/${LIBDIR}/pkgconfig)
  set(ENV{PKG_CONFIG_LIBDIR} ${PREFIX}/${LIBDIR}/pkgconfig)
  run_checked("pkg-config" ${PKG_CONFIG} --cflags --libs velkcore)
  string(STRIP "${run_output}" pc_flags)
  if(NOT pc_flags MATCHES "-I${PREFIX}/" OR NOT pc_flags MATCHES "-L${PREFIX}/")
    message(FATAL_ERROR "pkg-config does not point into the prefix: ${pc_flags}")
  endif()
  run_checked("pkg-config --modversion" ${PKG_CONFIG} --modversion velkcore)
  string(STRIP "${run_output}" pc_version)
  if(NOT pc_version STREQUAL VERSION)
    message(FATAL_ERROR "velkcore.pc says version ${pc_version}, the build ${VERSION}")
  endif()
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  run_checked("compiling the C99 consumer" ${CC} -std=c99 -Wall -Wextra -Wpedantic -Werror
    ${c_flags} ${SOURCE_DIR}/consumer_c99.c ${pc_flags} ${link_flags} -o consumer)
  run_checked("running the C99 consumer"
    ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/${LIBDIR} ${emulator} ${work}/consumer)
elseif(WHICH STREQUAL "cmake")
  set(generator)
  if(GENERATOR)
    set(generator -G ${GENERATOR} -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
  endif()
  run_checked("configuring the CMake consumer" ${CMAKE_COMMAND}
    -S ${SOURCE_DIR}/consumer -B ${work}/build ${generator}
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
  if(NOT run_output MATCHES "velkcore package: ${PREFIX}/")
    message(FATAL_ERROR "find_package did not take the package from ${PREFIX}:\n${run_output}")
  endif()
  string(FIND "${run_output}" "(version ${VERSION})" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the CMake package is not version ${VERSION}:\n${run_output}")
  endif()
  run_checked("building the CMake consumer" ${CMAKE_COMMAND} --build ${work}/build)
  run_checked("running the CMake consumer" ${emulator} ${work}/build/consumer)
else()
  message(FATAL_ERROR "WHICH must be pkgconfig or cmake")
endif()

set(expected "ecb 3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53
cbc e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6
ede3-ecb a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900
ede3-cbc 38413d4ba2325cf1141f707471ac2ced57db530f0123b5ac
version ${VERSION} ${VERSION}
")
if(WHICH STREQUAL "cmake")
  string(APPEND expected "kcv 08d7b4\ncbc-mac 70a30640cc76dd8b\n")
endif()
if(NOT run_output STREQUAL expected)
  message(FATAL_ERROR "the ${WHICH} consumer printed:\n${run_output}\nexpected:\n${expected}")
endif()
message(STATUS "the ${WHICH} consumer printed the known ciphertexts:\n${run_output}")
