# SPDX-License-Identifier: MIT
# Fails when the shared library LIB carries any of the many-block path: the
# compiler's processor-feature check (its data and its load-time
# constructor) or the bulk functions; and, unless CONSTANT_TIME is true, the
# constant-time rounds or the library's own processor check, which only the
# constant-time build's functions reach. The library's own writable data is
# held to the one feature word by writable_data_is_the_feature_word_only.
execute_process(COMMAND ${NM} -D ${LIB} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm -D ${LIB} failed")
endif()
foreach(name __cpu_model __cpu_indicator_init __cpu_features2)
  if(dynamic MATCHES "${name}")
    message(FATAL_ERROR "${LIB} refers to ${name}")
  endif()
endforeach()

execute_process(COMMAND ${NM} -C ${LIB} OUTPUT_VARIABLE all ERROR_VARIABLE err)
string(REPLACE "\n" ";" lines "${all}")
foreach(line IN LISTS lines)
  if(line MATCHES "Ede3BulkKey|ede3_(encrypt|decrypt|cbc)|bulk_width|cpu_model")
    message(FATAL_ERROR "${LIB} contains the many-block path: ${line}")
  endif()
  if(NOT CONSTANT_TIME AND line MATCHES "velk::(ct|cpu)::")
    message(FATAL_ERROR "${LIB} contains code that only the constant-time build reaches: ${line}")
  endif()
endforeach()
