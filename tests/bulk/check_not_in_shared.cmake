# Fails when the shared library LIB carries any of the many-block path: the
# processor-feature check (its data and its load-time constructor), the bulk
# functions, or writable data beyond what the C run-time start files add.
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
  # Writable data: only the start files' own (a stripped library lists none;
  # the sanitizers' instrumentation adds its own, so SANITIZED skips this).
  if(NOT SANITIZED AND line MATCHES "^[0-9a-f]+ [bBdD] (.*)$")
    set(symbol "${CMAKE_MATCH_1}")
    if(NOT symbol MATCHES "^(_DYNAMIC|_GLOBAL_OFFSET_TABLE_|__TMC_END__|__dso_handle|__do_global_dtors_aux_fini_array_entry|__frame_dummy_init_array_entry|completed\\.[0-9]+|__bss_start|_edata|_end)$")
      message(FATAL_ERROR "${LIB} has writable data: ${symbol}")
    endif()
  endif()
endforeach()
