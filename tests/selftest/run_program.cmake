# Runs a program with standard input at end of file and checks its standard
# output byte for byte and its exit status.
#
#   cmake -DPROGRAM=<path> -DEXPECTED=<file> -DEXPECTED_STATUS=<n>
#         [-DEMULATOR=<command;args>] [-DCRLF=ON|OFF] -P run_program.cmake
#
# EMULATOR runs the program on another architecture or system (qemu, wine64).
# With CRLF ON every line feed of EXPECTED is expected as CR LF, as a Windows
# runtime writes standard output in text mode. Output goes to a file and is
# compared as hexadecimal, so no byte is lost to CMake's string handling.
cmake_minimum_required(VERSION 3.25)

foreach(required PROGRAM EXPECTED EXPECTED_STATUS)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "run_program.cmake: -D${required}= is required")
  endif()
endforeach()

# "4142" -> "41;42"
function(hex_to_bytes hex out)
  string(REGEX REPLACE "(..)" "\\1;" bytes "${hex}")
  string(REGEX REPLACE ";$" "" bytes "${bytes}")
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# Byte-wise XOR of two hex strings over the longer length; a missing byte
# counts as zero, so surplus bytes show as themselves.
function(hex_xor left right out)
  hex_to_bytes("${left}" left_bytes)
  hex_to_bytes("${right}" right_bytes)
  list(LENGTH left_bytes left_count)
  list(LENGTH right_bytes right_count)
  set(count ${left_count})
  if(right_count GREATER count)
    set(count ${right_count})
  endif()
  set(result "")
  if(count GREATER 0)
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
      set(a 00)
      set(b 00)
      if(i LESS left_count)
        list(GET left_bytes ${i} a)
      endif()
      if(i LESS right_count)
        list(GET right_bytes ${i} b)
      endif()
      math(EXPR x "(0x${a} ^ 0x${b}) + 256" OUTPUT_FORMAT HEXADECIMAL)
      string(SUBSTRING "${x}" 3 2 x)
      string(APPEND result "${x}")
    endforeach()
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

file(READ "${EXPECTED}" expected HEX)
if(CRLF)
  hex_to_bytes("${expected}" expected_bytes)
  list(TRANSFORM expected_bytes REPLACE "^0a$" "0d0a")
  string(JOIN "" expected ${expected_bytes})
endif()

get_filename_component(program_name "${PROGRAM}" NAME_WE)
get_filename_component(expected_name "${EXPECTED}" NAME_WE)
set(stdin_file "${CMAKE_CURRENT_BINARY_DIR}/${program_name}-${expected_name}.stdin")
set(stdout_file "${CMAKE_CURRENT_BINARY_DIR}/${program_name}-${expected_name}.stdout")
file(WRITE "${stdin_file}" "")
execute_process(
  COMMAND ${EMULATOR} "${PROGRAM}"
  INPUT_FILE "${stdin_file}"
  OUTPUT_FILE "${stdout_file}"
  RESULT_VARIABLE status
  TIMEOUT 30)
file(READ "${stdout_file}" produced HEX)

set(problems "")
if(NOT status STREQUAL EXPECTED_STATUS)
  string(APPEND problems "exit status: expected ${EXPECTED_STATUS}, produced ${status}\n")
endif()
if(NOT produced STREQUAL expected)
  hex_xor("${expected}" "${produced}" difference)
  string(APPEND problems "standard output differs from ${EXPECTED}:\n"
                         "  expected: ${expected}\n" "  produced: ${produced}\n"
                         "  xor:      ${difference}\n")
endif()
if(problems)
  message(FATAL_ERROR "${PROGRAM}\n${problems}")
endif()
