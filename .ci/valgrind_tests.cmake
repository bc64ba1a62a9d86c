# Runs every test program of a build tree under a checker such as valgrind:
# each CTest entry whose command is an executable built in that tree, with
# the entry's arguments, environment and working directory. Entries run
# through a script or an emulator are left out; the checker would only see
# the interpreter. So are those labelled "terminal".
#
#   cmake -DBUILD_DIR=<absolute build dir> -P valgrind_tests.cmake -- <checker command...>
#
# Fails if any program exits non-zero under the checker.
cmake_minimum_required(VERSION 3.25)

set(checker)
set(after_separator FALSE)
math(EXPR last_argument "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last_argument})
  if(after_separator)
    list(APPEND checker "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(after_separator TRUE)
  endif()
endforeach()
if(NOT BUILD_DIR OR NOT checker)
  message(FATAL_ERROR "usage: cmake -DBUILD_DIR=<dir> -P valgrind_tests.cmake -- <checker...>")
endif()

execute_process(COMMAND ctest --test-dir ${BUILD_DIR} --show-only=json-v1
                OUTPUT_VARIABLE tests_json COMMAND_ERROR_IS_FATAL ANY)
string(JSON test_count LENGTH "${tests_json}" tests)
if(test_count EQUAL 0)
  message(FATAL_ERROR "no tests in ${BUILD_DIR}")
endif()

# The value of a test's property, or empty.
function(test_property index property_name out)
  set(value "")
  string(JSON property_count ERROR_VARIABLE missing LENGTH "${tests_json}" tests ${index} properties)
  if(NOT missing AND property_count GREATER 0)
    math(EXPR last_property "${property_count} - 1")
    foreach(p RANGE ${last_property})
      string(JSON name GET "${tests_json}" tests ${index} properties ${p} name)
      if(name STREQUAL property_name)
        string(JSON value GET "${tests_json}" tests ${index} properties ${p} value)
      endif()
    endforeach()
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

set(checked 0)
set(failed)
math(EXPR last_test "${test_count} - 1")
foreach(t RANGE ${last_test})
  string(JSON name GET "${tests_json}" tests ${t} name)
  string(JSON argument_count LENGTH "${tests_json}" tests ${t} command)
  string(JSON program GET "${tests_json}" tests ${t} command 0)
  cmake_path(IS_PREFIX BUILD_DIR "${program}" NORMALIZE built_here)
  if(NOT built_here)
    message(STATUS "skipped ${name}: runs ${program}, not a program of the build")
    continue()
  endif()
  # The terminal tests time a child program that runs natively anyway; under
  # the checker's slowdown only their timing would be tested.
  test_property(${t} LABELS labels)
  if("${labels}" MATCHES "terminal")
    message(STATUS "skipped ${name}: terminal timing test, its child runs outside the checker")
    continue()
  endif()

  set(command ${checker} ${program})
  math(EXPR last_argument "${argument_count} - 1")
  if(last_argument GREATER_EQUAL 1)
    foreach(a RANGE 1 ${last_argument})
      string(JSON argument GET "${tests_json}" tests ${t} command ${a})
      list(APPEND command "${argument}")
    endforeach()
  endif()

  set(environment)
  test_property(${t} ENVIRONMENT environment_json)
  if(environment_json)
    string(JSON variable_count LENGTH "${environment_json}")
    math(EXPR last_variable "${variable_count} - 1")
    foreach(v RANGE ${last_variable})
      string(JSON variable GET "${environment_json}" ${v})
      list(APPEND environment "${variable}")
    endforeach()
  endif()
  test_property(${t} WORKING_DIRECTORY directory)
  if(NOT directory)
    cmake_path(GET program PARENT_PATH directory)
  endif()

  string(TIMESTAMP started "%s")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${environment} -- ${command}
                  WORKING_DIRECTORY ${directory}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(TIMESTAMP finished "%s")
  math(EXPR seconds "${finished} - ${started}")
  math(EXPR checked "${checked} + 1")
  if(status EQUAL 0)
    message(STATUS "clean: ${name} (${seconds} s)")
  else()
    message("${output}")
    message(STATUS "FAILED: ${name}, status ${status} (${seconds} s)")
    list(APPEND failed ${name})
  endif()
endforeach()

if(failed)
  message(FATAL_ERROR "under ${checker}: ${failed} failed")
endif()
message(STATUS "${checked} test programs clean under the checker")
