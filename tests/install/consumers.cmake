# SPDX-License-Identifier: MIT
# Builds one consumer against the installed prefix, runs it and compares what
# it prints with published answers and with the version of the build, which
# the package files must carry as well.
#   LIBRARY=velkcore (the default): the FIPS 81 and SP 800-67 samples;
#     WHICH=pkgconfig: consumer_c99.c, compiled with `pkg-config --cflags --libs`;
#     WHICH=cmake: the consumer/ project, configured with find_package(velkcore).
#   LIBRARY=velkpay: consumer_pay_c99.c, a C99 program, one answer per family;
#     WHICH=pkgconfig: compiled with `pkg-config --cflags --libs velkpay`;
#     WHICH=cmake: the consumer_pay/ project, with find_package(velkpay), which
#     also builds and checks a C++20 program over velkpay.hpp.
# With EMULATOR (its words separated by commas) the consumer runs under it.
# SYSTEM_LAYOUT=ON says that the prefix holds libraries laid out for a system
# directory, without run paths (the Debian packages unpacked elsewhere): the
# linker is then told where libvelkcore.so.1, which libvelkpay.so loads,
# lies (-rpath-link), and the CMake consumer finds it by LD_LIBRARY_PATH, as
# the pkg-config one always does; otherwise by the run paths alone.
if(NOT DEFINED LIBRARY)
  set(LIBRARY velkcore)
endif()
if(LIBRARY STREQUAL "velkcore")
  set(work ${WORK}/${WHICH})
  set(c_source ${SOURCE_DIR}/consumer_c99.c)
  set(project_dir ${SOURCE_DIR}/consumer)
elseif(LIBRARY STREQUAL "velkpay")
  set(work ${WORK}/pay-${WHICH})
  set(c_source ${SOURCE_DIR}/consumer_pay_c99.c)
  set(project_dir ${SOURCE_DIR}/consumer_pay)
else()
  message(FATAL_ERROR "LIBRARY must be velkcore or velkpay")
endif()
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
  run_checked("pkg-config" ${PKG_CONFIG} --cflags --libs ${LIBRARY})
  string(STRIP "${run_output}" pc_flags)
  if(NOT pc_flags MATCHES "-I${PREFIX}/" OR NOT pc_flags MATCHES "-L${PREFIX}/")
    message(FATAL_ERROR "pkg-config does not point into the prefix: ${pc_flags}")
  endif()
  run_checked("pkg-config --modversion" ${PKG_CONFIG} --modversion ${LIBRARY})
  string(STRIP "${run_output}" pc_version)
  if(NOT pc_version STREQUAL VERSION)
    message(FATAL_ERROR "${LIBRARY}.pc says version ${pc_version}, the build ${VERSION}")
  endif()
  separate_arguments(pc_flags UNIX_COMMAND "${pc_flags}")
  if(SYSTEM_LAYOUT)
    list(APPEND pc_flags -Wl,-rpath-link,${PREFIX}/${LIBDIR})
  endif()
  run_checked("compiling the C99 consumer" ${CC} -std=c99 -Wall -Wextra -Wpedantic -Werror
    ${c_flags} ${c_source} ${pc_flags} ${link_flags} -o consumer)
  run_checked("running the C99 consumer"
    ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/${LIBDIR} ${emulator} ${work}/consumer)
elseif(WHICH STREQUAL "cmake")
  set(generator)
  if(GENERATOR)
    set(generator -G ${GENERATOR} -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
  endif()
  run_checked("configuring the CMake consumer" ${CMAKE_COMMAND}
    -S ${project_dir} -B ${work}/build ${generator}
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_C_COMPILER=${CC} "-DCMAKE_C_FLAGS=${C_FLAGS}"
    -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
  if(NOT run_output MATCHES "${LIBRARY} package: ${PREFIX}/")
    message(FATAL_ERROR "find_package did not take the package from ${PREFIX}:\n${run_output}")
  endif()
  string(FIND "${run_output}" "(version ${VERSION})" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the CMake package is not version ${VERSION}:\n${run_output}")
  endif()
  run_checked("building the CMake consumer" ${CMAKE_COMMAND} --build ${work}/build)
  set(library_path)
  if(SYSTEM_LAYOUT)
    set(library_path ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${PREFIX}/${LIBDIR})
  endif()
  if(LIBRARY STREQUAL "velkpay")
    run_checked("running the C++ consumer" ${library_path} ${emulator} ${work}/build/consumer_cpp)
    set(expected "kcv 08d7b4\nkcv-cmac 0a82458664\ncmac 62dd1b471902bd4e\n"
                 "pin-key c46551cef9fd244faa9ad834130d3b38\nrefused key-length\n")
    string(CONCAT expected ${expected})
    if(NOT run_output STREQUAL expected)
      message(FATAL_ERROR "the C++ consumer printed:\n${run_output}\nexpected:\n${expected}")
    endif()
    message(STATUS "the velkpay C++ consumer printed the known answers:\n${run_output}")
  endif()
  run_checked("running the CMake consumer" ${library_path} ${emulator} ${work}/build/consumer)
else()
  message(FATAL_ERROR "WHICH must be pkgconfig or cmake")
endif()

if(LIBRARY STREQUAL "velkpay")
  # SP 800-67's sample, the KCV of 0123456789ABCDEF FEDCBA9876543210, SP
  # 800-38B D.4 example 7, ISO/IEC 9797-1 B.4 (padding 1), and the second
  # transaction of X9.24-1:2009 A.4 (PIN 1234, PAN 4012345678909).
  set(expected "tdes-ecb a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900
kcv 08d7b4
cmac 62dd1b471902bd4e
retail-mac a1c72e74ea3fa9b6
ipek 6ac292faa1315b4d858ab3a3d7d5933a
transaction-key c46551cef9fd24b0aa9ad834130d3bc7
pin-block 10a01c8d02c69107
pin 1234
data-request a2b4e70f846e63d68775b7215eb4563dfd3037244c61cc13
refused key-length
")
else()
  set(expected "ecb 3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53
cbc e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6
ede3-ecb a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900
ede3-cbc 38413d4ba2325cf1141f707471ac2ced57db530f0123b5ac
version ${VERSION} ${VERSION}
")
  if(WHICH STREQUAL "cmake")
    string(APPEND expected "kcv 08d7b4\ncbc-mac 70a30640cc76dd8b\n")
  endif()
endif()
if(NOT run_output STREQUAL expected)
  message(FATAL_ERROR "the ${LIBRARY} ${WHICH} consumer printed:\n${run_output}\nexpected:\n${expected}")
endif()
message(STATUS "the ${LIBRARY} ${WHICH} consumer printed the known answers:\n${run_output}")
