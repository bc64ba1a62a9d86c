# What the test suite needs to know about the target platform, and tests of the
# built files themselves.

# 32-bit x86 programs, which this machine's kernel cannot run, run in a
# virtual machine (cmake/vm/vm.sh): a toolchain file sets AES_VM to the CPU
# model to emulate. The image is made while building, once for all build
# trees; each test run boots it once (the fixture "vm") and hands it one
# program after another through AES_VM_RUN.
if(AES_VM)
  cmake_path(ABSOLUTE_PATH CMAKE_BINARY_DIR OUTPUT_VARIABLE build_dir NORMALIZE)
  cmake_path(GET build_dir PARENT_PATH build_root)
  set(AES_VM_DIR ${build_root}/vm CACHE PATH "Where the virtual machine's image is kept")
  set(vm_script ${PROJECT_SOURCE_DIR}/cmake/vm/vm.sh)
  add_custom_target(vm_image ALL COMMAND ${vm_script} image ${AES_VM_DIR}
                    COMMENT "Making the virtual machine's image in ${AES_VM_DIR} (minutes, once)"
                    USES_TERMINAL)
  # Boots the machine on CPU model `cpu` for the tests that need `fixture`;
  # the guest sees the source and build trees at the same paths as here.
  function(aes_add_vm fixture cpu session)
    add_test(NAME ${fixture}.start COMMAND ${vm_script} start ${AES_VM_DIR} ${session} ${cpu}
                                           ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR})
    add_test(NAME ${fixture}.stop COMMAND ${vm_script} stop ${session})
    set_tests_properties(${fixture}.start PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 700 LABELS vm)
    set_tests_properties(${fixture}.stop PROPERTIES FIXTURES_CLEANUP ${fixture} LABELS vm)
  endfunction()
  aes_add_vm(vm ${AES_VM} ${AES_VM_SESSION})
endif()

# AES_EMULATED_CPUS lists older CPUs, as CPU=IMPLEMENTATION: the property
# tests run once more on each, through AES_EMULATOR_FOR_CPU with @CPU@
# replaced, and the public functions must choose that implementation there.
# Where AES_EMULATED_CPUS_IN_VM is set, each CPU gets a machine of its own.
function(aes_add_emulated_cpu_tests program)
  foreach(entry IN LISTS AES_EMULATED_CPUS)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 cpu)
    list(GET entry 1 expected)
    if(AES_CBC_IMPLEMENTATIONS STREQUAL "table")
      set(expected table)
    endif()
    string(REPLACE "@CPU@" "${cpu}" emulator "${AES_EMULATOR_FOR_CPU}")
    add_test(NAME ${program}.${cpu} COMMAND ${emulator} $<TARGET_FILE:${program}>)
    set_tests_properties(${program}.${cpu} PROPERTIES
                         LABELS "property;emulated_cpu" TIMEOUT 600 ENVIRONMENT AES_EXPECTED_IMPLEMENTATION=${expected})
    if(AES_EMULATED_CPUS_IN_VM)
      aes_add_vm(vm_${cpu} ${cpu} ${CMAKE_BINARY_DIR}/vm-session-${cpu})
      set_tests_properties(${program}.${cpu} PROPERTIES FIXTURES_REQUIRED vm_${cpu})
    endif()
  endforeach()
endfunction()

# Marks tests that need the virtual machine as needing it.
function(aes_run_in_vm)
  set_tests_properties(${ARGV} PROPERTIES FIXTURES_REQUIRED vm)
endfunction()

# Tests that run a built program call this. Where the emulator is the
# virtual machine, they need it booted; a cross build without any emulator
# builds its test programs but cannot run them, and CTest lists them as "Not
# Run (Disabled)" instead of failing or passing falsely.
function(aes_disable_unless_runnable)
  if(AES_VM AND "${CMAKE_CROSSCOMPILING_EMULATOR}" STREQUAL "${AES_VM_RUN}")
    aes_run_in_vm(${ARGV})
  elseif(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set_tests_properties(${ARGV} PROPERTIES DISABLED TRUE)
  endif()
endfunction()

# Wine makes its prefix on first use, which takes minutes on a fresh machine:
# it is made while building, so that no test's time limit has to cover it.
# The tests share one Wine server, up from before the first of them to after
# the last (the fixture "wine_server"): a server that ends between two tests,
# as it does a moment after its last program, fails a program that connects
# just then.
if(AES_WINE_PREFIX)
  add_custom_command(OUTPUT ${AES_WINE_PREFIX}/.complete COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR}
                     COMMENT "Creating the Wine prefix ${AES_WINE_PREFIX}")
  add_custom_target(wine_prefix ALL DEPENDS ${AES_WINE_PREFIX}/.complete)
  add_test(NAME wine_server.start COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --start-server)
  add_test(NAME wine_server.stop COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --stop-server)
  # The start makes the prefix if a test run comes before any build.
  set_tests_properties(wine_server.start PROPERTIES FIXTURES_SETUP wine_server TIMEOUT 600
                                                    LABELS wine)
  set_tests_properties(wine_server.stop PROPERTIES FIXTURES_CLEANUP wine_server TIMEOUT 60
                                                   LABELS wine)
endif()

# Gives every test of the calling directory that runs a program what running
# it needs; each directory that adds tests calls this at its end, so that no
# test has to ask for it. Under wine64 that is the shared Wine server. The
# checks of the built files (label "artefact") run nothing.
function(aes_add_platform_fixtures)
  set_property(GLOBAL APPEND PROPERTY AES_PLATFORM_FIXTURE_DIRECTORIES ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT AES_WINE_PREFIX)
    return()
  endif()
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} LABELS labels)
    if(test MATCHES "^wine_server[.]" OR "artefact" IN_LIST labels)
      continue()
    endif()
    set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine_server)
  endforeach()
endfunction()

# A directory of the project that adds tests without the call above fails the
# configuration, in every build, rather than its tests failing now and then
# under Wine.
function(aes_check_platform_fixtures directory)
  get_property(tests DIRECTORY ${directory} PROPERTY TESTS)
  get_property(covered GLOBAL PROPERTY AES_PLATFORM_FIXTURE_DIRECTORIES)
  if(tests AND NOT directory IN_LIST covered)
    message(FATAL_ERROR "${directory} adds tests but does not call aes_add_platform_fixtures()")
  endif()
  get_property(subdirectories DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR ${subdirectory} NORMALIZE inside)
    if(inside)
      aes_check_platform_fixtures(${subdirectory})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL aes_add_platform_fixtures)
cmake_language(DEFER CALL aes_check_platform_fixtures ${CMAKE_CURRENT_SOURCE_DIR})

# Windows: example4.exe must be a console program of the right PE format that
# needs no DLL beyond Windows' own and msvcrt.dll, whose _getch reads the key;
# a console gets the text through kernel32.dll's WriteConsoleW. A DLL of the
# library must need no more, to load beside any program, and is then all
# that the program needs besides.
if(WIN32 AND TARGET example4)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(pe_format pei-i386)
    set(pe_magic PE32)
  else()
    set(pe_format pei-x86-64)
    set(pe_magic PE32+)
  endif()
  set(check_pe_imports ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFORMAT=${pe_format}
                       -DMAGIC=${pe_magic})
  add_test(NAME example4.pe_imports
           COMMAND ${check_pe_imports} -DFILE=$<TARGET_FILE:example4>
                   -DSHIPPED_DLLS=$<$<STREQUAL:${AES128_TYPE},SHARED_LIBRARY>:$<TARGET_FILE_NAME:aes128>>
                   "-DREQUIRED_IMPORTS=msvcrt.dll:_getch$<SEMICOLON>kernel32.dll:WriteConsoleW"
                   -P ${CMAKE_CURRENT_LIST_DIR}/check_pe_imports.cmake)
  set_tests_properties(example4.pe_imports PROPERTIES LABELS artefact)
  if(AES128_TYPE STREQUAL "SHARED_LIBRARY")
    add_test(NAME aes128.pe_imports
             COMMAND ${check_pe_imports} -DFILE=$<TARGET_FILE:aes128> -DDLL=ON
                     -P ${CMAKE_CURRENT_LIST_DIR}/check_pe_imports.cmake)
    set_tests_properties(aes128.pe_imports PROPERTIES LABELS artefact)
  endif()
endif()

# A shared library for ELF must have its versioned SONAME and export the
# public functions alone.
if(AES128_TYPE STREQUAL "SHARED_LIBRARY" AND CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF")
  add_test(NAME aes128.exports
           COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:aes128>
                   -DSONAME=libaes128.so.${PROJECT_VERSION_MAJOR} -DNM=${CMAKE_NM}
                   -DREADELF=${CMAKE_READELF} -P ${CMAKE_CURRENT_LIST_DIR}/check_shared_library.cmake)
  set_tests_properties(aes128.exports PROPERTIES LABELS artefact)
endif()
