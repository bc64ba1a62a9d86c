# Checks a Windows program's file with objdump: its PE format, the console
# subsystem, and that it imports DLLs only from Windows itself and msvcrt.dll,
# so that libgcc, libstdc++ and winpthread are linked in and the program runs
# on the system's msvcrt.dll rather than on a newer C runtime.
#
#   cmake -DOBJDUMP=<objdump> -DPROGRAM=<file.exe> -DFORMAT=pei-i386 -DMAGIC=PE32
#         [-DREQUIRED_IMPORTS=msvcrt.dll:_getch;...] -P check_pe_imports.cmake
#
# REQUIRED_IMPORTS names functions (dll:function) that must be imported from
# exactly that DLL; DLL names compare without case, function names with it.
cmake_minimum_required(VERSION 3.25)

foreach(required OBJDUMP PROGRAM FORMAT MAGIC)
  if(NOT ${required})
    message(FATAL_ERROR "check_pe_imports: -D${required}= is missing")
  endif()
endforeach()

# The Windows DLLs that every Windows installation has; msvcrt.dll is required
# on top of them.
set(system_dlls kernel32.dll user32.dll advapi32.dll ntdll.dll)

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers ERROR_VARIABLE errors
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "check_pe_imports: ${OBJDUMP} -p ${PROGRAM} failed (${status}): ${errors}")
endif()

set(failures "")
if(NOT headers MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]*" found_format "${headers}")
  list(APPEND failures "expected file format ${FORMAT}, found '${found_format}'")
endif()
string(FIND "${headers}" "(${MAGIC})" magic_at)
if(magic_at EQUAL -1)
  string(REGEX MATCH "Magic[^\n]*" found_magic "${headers}")
  list(APPEND failures "expected optional header magic (${MAGIC}), found '${found_magic}'")
endif()
string(FIND "${headers}" "(Windows CUI)" console_at)
if(console_at EQUAL -1)
  string(REGEX MATCH "Subsystem[ \t][^\n]*" found_subsystem "${headers}")
  list(APPEND failures "expected the console subsystem (Windows CUI), found '${found_subsystem}'")
endif()

# objdump lists each imported DLL as "DLL Name: x.dll" followed by one line per
# imported function (address, hint, name) up to a blank line.
string(REPLACE ";" "," headers "${headers}")
string(REPLACE "\n" ";" lines "${headers}")
set(dlls "")
set(imports "")
set(dll "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND dlls ${dll})
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t *[0-9]+  ([^ ]+)$")
    list(APPEND imports "${dll}:${CMAKE_MATCH_1}")
  elseif(line STREQUAL "")
    set(dll "")
  endif()
endforeach()

message(STATUS "${PROGRAM} imports from: ${dlls}")
if(NOT "msvcrt.dll" IN_LIST dlls)
  list(APPEND failures "msvcrt.dll is not imported")
endif()
foreach(imported_dll IN LISTS dlls)
  if(NOT imported_dll STREQUAL "msvcrt.dll" AND NOT imported_dll IN_LIST system_dlls)
    list(APPEND failures "imports ${imported_dll}, which is neither a Windows DLL nor msvcrt.dll")
  endif()
endforeach()
foreach(required_import IN LISTS REQUIRED_IMPORTS)
  string(REGEX REPLACE ":.*" "" required_dll "${required_import}")
  string(TOLOWER "${required_dll}" required_dll)
  string(REGEX REPLACE "^[^:]*:" "" required_function "${required_import}")
  if(NOT "${required_dll}:${required_function}" IN_LIST imports)
    list(APPEND failures "${required_function} is not imported from ${required_dll}")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " failure_lines)
  message(FATAL_ERROR "${PROGRAM}:\n  ${failure_lines}")
endif()
