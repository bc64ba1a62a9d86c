# Reads example4's four labels as a Korean user's terminal would: the bytes
# before " = " on each of the first four lines, decoded from CP949 by iconv,
# an implementation of the code page that is not ours. They must read 원문,
# 암호화, 암호문 and 복호화.
#
#   cmake -DPROGRAM=<path> [-DEMULATOR=<command;args>] -P check_labels.cmake
cmake_minimum_required(VERSION 3.25)

set(output "${CMAKE_CURRENT_BINARY_DIR}/labels-output.bin")
execute_process(COMMAND ${EMULATOR} "${PROGRAM}" INPUT_FILE /dev/null OUTPUT_FILE "${output}"
                RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM}: exit status ${status}")
endif()
# The ciphertext on lines 2 and 3 has neither a line feed nor a '=' byte, so
# the lines and the labels can be cut out by bytes.
execute_process(COMMAND sh -c "head -n 4 \"$1\" | cut -d= -f1 | iconv -f CP949 -t UTF-8" sh
                        "${output}"
                OUTPUT_VARIABLE decoded RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "iconv could not decode the labels as CP949 (status ${status})")
endif()
string(REGEX REPLACE " *\r?\n" ";" labels "${decoded}")
set(expected "원문;암호화;암호문;복호화;")
if(NOT labels STREQUAL expected)
  message(FATAL_ERROR "labels read as CP949:\n  expected: ${expected}\n  produced: ${labels}")
endif()
message(STATUS "labels read as CP949: ${labels}")
