# Usage: cmake -DNM=<nm> -DMODULE=<path to the module> -P check-module-symbols.cmake
# The module must export exactly OBS's eight module functions and no other obs_ symbol.
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
