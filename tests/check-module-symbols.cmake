# Usage: cmake -DNM=<nm> -DMODULE=<path to the module> -DOBS_FAMILY=<29|30> -P check-module-symbols.cmake
# The module must export exactly OBS's eight module functions and no other obs_ symbol. A module for OBS 30
# and later must not refer to obs_frontend_add_dock: OBS 32 dropped it and refuses such a module at load.
execute_process(COMMAND ${NM} -D --defined-only ${MODULE} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
string(REGEX MATCHALL " [A-Za-z] obs_[A-Za-z0-9_]*" exported "${symbols}")
list(TRANSFORM exported REPLACE "^ [A-Za-z] " "")
list(SORT exported)
set(expected obs_module_free_locale obs_module_get_string obs_module_load obs_module_post_load
    obs_module_set_locale obs_module_set_pointer obs_module_unload obs_module_ver)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported obs_ symbols: ${exported}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${exported}")

execute_process(COMMAND ${NM} -D --undefined-only ${MODULE} OUTPUT_VARIABLE imports RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
if(OBS_FAMILY GREATER_EQUAL 30 AND imports MATCHES " obs_frontend_add_dock\n")
  message(FATAL_ERROR "a module for OBS ${OBS_FAMILY} and later imports obs_frontend_add_dock")
endif()
