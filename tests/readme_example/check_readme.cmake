# The README's code block under "## A message in pieces" must be the
# example's source as the tests build it, byte for byte.
#
#   cmake -DREADME=<README.md> -DEXAMPLE=<message_in_pieces.cpp> -P check_readme.cmake
cmake_minimum_required(VERSION 3.25)

file(READ ${README} readme)
file(READ ${EXAMPLE} example)
string(FIND "${readme}" "\n## A message in pieces\n" section)
if(section EQUAL -1)
  message(FATAL_ERROR "${README}: no section \"A message in pieces\"")
endif()
string(SUBSTRING "${readme}" ${section} -1 readme)
string(FIND "${readme}" "\n```cpp\n" start)
string(FIND "${readme}" "\n```\n" end)
if(start EQUAL -1 OR end LESS start)
  message(FATAL_ERROR "${README}: no cpp code block in \"A message in pieces\"")
endif()
math(EXPR start "${start} + 8")
math(EXPR length "${end} + 1 - ${start}")
string(SUBSTRING "${readme}" ${start} ${length} block)
if(NOT block STREQUAL example)
  message(FATAL_ERROR "${README}'s example differs from ${EXAMPLE}: copy the file into the README")
endif()
message(STATUS "the README's example is ${EXAMPLE}")
