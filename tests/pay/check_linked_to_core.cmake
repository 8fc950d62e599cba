# SPDX-License-Identifier: MIT
# libvelkpay.so takes the DES functions from libvelkcore.so instead of
# carrying copies: it needs libvelkcore.so.1, is named libvelkpay.so.1, and
# defines no des_* name even among its hidden ones while it refers to them.
# Called as cmake -DLIB=path -DNM=nm -DREADELF=readelf -P check_linked_to_core.cmake
execute_process(COMMAND ${READELF} -d ${LIB} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${READELF} -d failed on ${LIB}")
endif()
if(NOT dynamic MATCHES "NEEDED[^\n]*\\[libvelkcore\\.so\\.1\\]")
  message(FATAL_ERROR "${LIB} does not need libvelkcore.so.1:\n${dynamic}")
endif()
if(NOT dynamic MATCHES "SONAME[^\n]*\\[libvelkpay\\.so\\.1\\]")
  message(FATAL_ERROR "${LIB} is not named libvelkpay.so.1:\n${dynamic}")
endif()

execute_process(COMMAND ${NM} -D --undefined-only ${LIB} OUTPUT_VARIABLE undefined)
if(NOT undefined MATCHES " des_init\n")
  message(FATAL_ERROR "${LIB} does not take des_init from libvelkcore.so")
endif()
execute_process(COMMAND ${NM} ${LIB} OUTPUT_VARIABLE all ERROR_VARIABLE err)
string(REPLACE "\n" ";" lines "${all}")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] des_")
    message(FATAL_ERROR "${LIB} defines a DES function of its own: ${line}")
  endif()
endforeach()
message(STATUS "${LIB} takes its DES functions from libvelkcore.so.1")
