# Checks a shared libaes128 for ELF: its SONAME, and that its dynamic symbol
# table defines the public functions and nothing else (the internals
# are compiled with hidden visibility; cipher/aes128_export.hpp).
#
#   cmake -DLIBRARY=<libaes128.so...> -DSONAME=<expected> [-DNM=nm] [-DREADELF=readelf]
#         -P check_shared_library.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT LIBRARY OR NOT SONAME)
  message(FATAL_ERROR "usage: cmake -DLIBRARY=<file> -DSONAME=<name> -P check_shared_library.cmake")
endif()
if(NOT NM)
  set(NM nm)
endif()
if(NOT READELF)
  set(READELF readelf)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/public_functions.cmake)

execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic_section
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "\\(SONAME\\)[^\n]*\\[([^]\n]*)\\]" soname_line "${dynamic_section}")
if(NOT CMAKE_MATCH_1 STREQUAL SONAME)
  message(FATAL_ERROR "${LIBRARY}: SONAME '${CMAKE_MATCH_1}', expected '${SONAME}'")
endif()
message(STATUS "SONAME ${CMAKE_MATCH_1}")

execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
                OUTPUT_VARIABLE symbol_table COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" symbol_lines "${symbol_table}")
set(exported)
set(problems)
foreach(line IN LISTS symbol_lines)
  if(line STREQUAL "")
    continue()
  endif()
  message(STATUS "exported: ${line}")
  # "<address> <type> <name>(<parameters>)": the name without its parameters.
  if(line MATCHES "^[0-9a-f]+ T ([A-Za-z_][A-Za-z0-9_]*)\\(" AND CMAKE_MATCH_1 IN_LIST public_functions)
    list(APPEND exported ${CMAKE_MATCH_1})
  else()
    string(APPEND problems "  not a public function: ${line}\n")
  endif()
endforeach()
foreach(name IN LISTS public_functions)
  set(definitions ${exported})
  list(FILTER definitions INCLUDE REGEX "^${name}$")
  list(LENGTH definitions count)
  if(NOT count EQUAL 1)
    string(APPEND problems "  ${name}: defined ${count} times, expected once\n")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "${LIBRARY} must export exactly the public functions:\n${problems}")
endif()
list(LENGTH exported count)
message(STATUS "${count} symbols exported, the public functions")
