# Runs secret_independence under valgrind's memcheck for the CBC, the block
# and the kept-key functions of every implementation the CPU supports, and counts the
# reports that the measured calls draw (the program prints them; those of
# the C library at start-up and exit are not theirs). All but the
# table-driven implementation must draw none: no branch and no address may
# depend on key, IV or data. The table-driven one must draw reports in both,
# since its lookups are indexed by them; that shows the check able to fail.
# An implementation whose instructions valgrind's CPU lacks (valgrind 3.19
# hides VAES from the programs it runs) cannot be checked here and is
# reported as skipped.
#
#   cmake -DVALGRIND=<memcheck command> [-DEMULATOR=<emulator command>]
#         -DPROGRAM=<secret_independence> -P secret_independence.cmake
#
# The commands are lists with '|' between their words; EMULATOR runs the
# program where it is not the build machine's.
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" valgrind "${VALGRIND}")
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${PROGRAM} OUTPUT_VARIABLE names OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" names "${names}")
if(NOT "table" IN_LIST names)
  message(FATAL_ERROR "the table-driven implementation is not listed: '${names}'")
endif()

set(problems "")
foreach(name IN LISTS names)
  foreach(functions IN ITEMS cbc block kept)
    set(what "${name} ${functions}")
    execute_process(COMMAND ${valgrind} ${PROGRAM} ${name} ${functions}
                    RESULT_VARIABLE status OUTPUT_VARIABLE counted ERROR_VARIABLE report)
    string(REGEX MATCH "reports: ([0-9]+)" counted "${counted}")
    set(errors "${CMAKE_MATCH_1}")
    if(status EQUAL 77 AND NOT name STREQUAL "table")
      message(STATUS "${what}: skipped, the CPU that valgrind presents lacks its instructions")
    elseif(errors STREQUAL "")
      string(APPEND problems "${what}: no count of reports (status ${status}):\n${report}\n")
    elseif(name STREQUAL "table")
      if(errors EQUAL 0)
        string(APPEND problems "${what}: no report, yet its lookups depend on key and data\n")
      else()
        message(STATUS "${what}: ${errors} reports, as expected of table lookups")
      endif()
    elseif(NOT errors EQUAL 0 OR NOT status EQUAL 0)
      string(APPEND problems "${what}: ${errors} reports (status ${status}):\n${report}\n")
    else()
      message(STATUS "${what}: no report")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
