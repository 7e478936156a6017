# Usage: cmake -DNM=<nm> -DMODULE=<path to the module> -DOBS_FAMILY=<29|30> [-DPORTABLE=ON -DREADELF=<readelf>]
#   -P check-module-symbols.cmake
cmake_minimum_required(VERSION 3.25)
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

# The module of the per-user archive (-DREADELF=<readelf> -DPORTABLE=ON) loads into any OBS from 30 on, on
# any Qt from 6.4 on: it may need only libraries every such OBS has loaded already, by the names every such
# OBS has (no libcurl: OBS has one of two, and the module takes that one at run time), glibc no newer than
# Debian 12's, and Qt's public API only (the symbol version Qt_6, besides the tag of the oldest Qt it
# runs on). No RPATH or RUNPATH: it must find OBS's own libraries, never others.
if(PORTABLE)
  execute_process(COMMAND ${READELF} --dynamic --version-info ${MODULE} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "readelf failed on ${MODULE}")
  endif()
  set(allowed libobs.so.30 libobs-frontend-api.so.30 libQt6Core.so.6 libQt6Gui.so.6 libQt6Widgets.so.6
      libQt6Network.so.6 libstdc++.so.6 libm.so.6 libgcc_s.so.1 libc.so.6)
  if(dynamic MATCHES "\\((RPATH|RUNPATH)\\)")
    message(FATAL_ERROR "the module has an ${CMAKE_MATCH_1}")
  endif()
  string(REGEX MATCHALL "Shared library: \\[[^]]*\\]" needed "${dynamic}")
  list(TRANSFORM needed REPLACE "Shared library: \\[(.*)\\]" "\\1")
  foreach(library IN LISTS needed)
    if(NOT library IN_LIST allowed)
      message(FATAL_ERROR "the module needs ${library}, which not every OBS from 30 on has (allowed: ${allowed})")
    endif()
  endforeach()
  string(REGEX MATCHALL "Name: (GLIBC|Qt)_[0-9A-Za-z_.]*" versions "${dynamic}")
  list(TRANSFORM versions REPLACE "Name: " "")
  list(REMOVE_DUPLICATES versions)
  foreach(version IN LISTS versions)
    if(version MATCHES "^GLIBC_([0-9.]+)$")
      if(CMAKE_MATCH_1 VERSION_GREATER 2.36)
        message(FATAL_ERROR "the module needs ${version}; Debian 12 has glibc 2.36")
      endif()
    elseif(version MATCHES "^Qt_6\\.([0-9]+)$")
      # Qt's version tag: the oldest Qt the module loads into, which must be Debian 12's.
      if(CMAKE_MATCH_1 GREATER 4)
        message(FATAL_ERROR "the module needs ${version}; Debian 12 has Qt 6.4")
      endif()
    elseif(NOT version STREQUAL "Qt_6")
      message(FATAL_ERROR "the module needs ${version}: only Qt 6's public API (Qt_6) and glibc's are allowed")
    endif()
  endforeach()
  message(STATUS "needs: ${needed}; versions: ${versions}")
endif()
