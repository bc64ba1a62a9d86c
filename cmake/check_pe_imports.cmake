# Checks a Windows program's or DLL's file with objdump: its PE format, the
# console subsystem (a program) or the DLL flag (a DLL) and then that it
# exports the public functions (cmake/public_functions.cmake) and nothing
# else, and that it imports
# DLLs only from Windows itself and msvcrt.dll, so that libgcc, libstdc++ and
# winpthread are linked in and the file loads with the system's msvcrt.dll
# alone rather than with the compiler's runtime DLLs or a newer C runtime.
#
#   cmake -DOBJDUMP=<objdump> -DFILE=<file.exe|file.dll> -DFORMAT=pei-i386 -DMAGIC=PE32
#         [-DDLL=ON] [-DSHIPPED_DLLS=libaes128.dll;...]
#         [-DREQUIRED_IMPORTS=msvcrt.dll:_getch;...] -P check_pe_imports.cmake
#
# SHIPPED_DLLS names the project's own DLLs, which go beside the file and may
# be imported too.
# REQUIRED_IMPORTS names functions (dll:function) that must be imported from
# exactly that DLL; DLL names compare without case, function names with it.
cmake_minimum_required(VERSION 3.25)

foreach(required OBJDUMP FILE FORMAT MAGIC)
  if(NOT ${required})
    message(FATAL_ERROR "check_pe_imports: -D${required}= is missing")
  endif()
endforeach()

# The Windows DLLs that every Windows installation has; msvcrt.dll is required
# on top of them.
set(system_dlls kernel32.dll user32.dll advapi32.dll ntdll.dll)
string(TOLOWER "${SHIPPED_DLLS}" shipped_dlls)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE headers ERROR_VARIABLE errors
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "check_pe_imports: ${OBJDUMP} -p ${FILE} failed (${status}): ${errors}")
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
# objdump names the flags of the file header's Characteristics one a line.
if(DLL)
  if(NOT headers MATCHES "\nCharacteristics [^\n]*\n(\t[^\n]*\n)*\tDLL\n")
    list(APPEND failures "expected a DLL, the file header has no DLL flag")
  endif()
else()
  string(FIND "${headers}" "(Windows CUI)" console_at)
  if(console_at EQUAL -1)
    string(REGEX MATCH "Subsystem[ \t][^\n]*" found_subsystem "${headers}")
    list(APPEND failures "expected the console subsystem (Windows CUI), found '${found_subsystem}'")
  endif()
endif()

# objdump lists each imported DLL as "DLL Name: x.dll" followed by one line per
# imported function (address, hint, name) up to a blank line.
# A DLL's table of export names lists each as "\t[ n] name", GCC's mangling
# of a C++ function starting _Z, then the length and the letters of its name.
include(${CMAKE_CURRENT_LIST_DIR}/public_functions.cmake)
if(DLL)
  string(FIND "${headers}" "[Ordinal/Name Pointer] Table" names_at)
  string(SUBSTRING "${headers}" ${names_at} -1 export_names)
  string(REGEX MATCHALL "\n\t\[ *[0-9]+\] [^\n]+" export_lines "${export_names}")
  set(exported "")
  foreach(line IN LISTS export_lines)
    string(REGEX REPLACE "^\n\t\[ *[0-9]+\] " "" symbol "${line}")
    if(symbol MATCHES "^_Z([0-9]+)")
      string(LENGTH "_Z${CMAKE_MATCH_1}" prefix)
      string(SUBSTRING "${symbol}" ${prefix} ${CMAKE_MATCH_1} symbol)
    endif()
    list(APPEND exported ${symbol})
  endforeach()
  list(SORT exported)
  set(expected ${public_functions})
  list(SORT expected)
  if(NOT exported STREQUAL expected)
    list(APPEND failures "exports '${exported}', expected the public functions '${expected}'")
  endif()
endif()

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

message(STATUS "${FILE} imports from: ${dlls}")
if(NOT "msvcrt.dll" IN_LIST dlls)
  list(APPEND failures "msvcrt.dll is not imported")
endif()
foreach(imported_dll IN LISTS dlls)
  if(NOT imported_dll STREQUAL "msvcrt.dll" AND NOT imported_dll IN_LIST system_dlls
     AND NOT imported_dll IN_LIST shipped_dlls)
    list(APPEND failures "imports ${imported_dll}, which is neither a Windows DLL, msvcrt.dll nor shipped with it")
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
  message(FATAL_ERROR "${FILE}:\n  ${failure_lines}")
endif()
