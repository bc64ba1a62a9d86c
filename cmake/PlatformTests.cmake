# What the test suite needs to know about the target platform, and tests of the
# built files themselves.

# A cross build without an emulator (32-bit Windows here, which this machine
# cannot run) builds its test programs but cannot run them. Tests that run a
# built program call this, so that there CTest lists them as "Not Run
# (Disabled)" instead of failing or passing falsely.
function(aes_disable_unless_runnable)
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set_tests_properties(${ARGV} PROPERTIES DISABLED TRUE)
  endif()
endfunction()

# Wine makes its prefix on first use, which takes minutes on a fresh machine:
# it is made while building, so that no test's time limit has to cover it.
if(AES_WINE_PREFIX)
  add_custom_command(OUTPUT ${AES_WINE_PREFIX}/system.reg COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR}
                     COMMENT "Creating the Wine prefix ${AES_WINE_PREFIX}")
  add_custom_target(wine_prefix ALL DEPENDS ${AES_WINE_PREFIX}/system.reg)
endif()

# Windows: example4.exe must be a console program of the right PE format that
# needs no DLL beyond Windows' own and msvcrt.dll, whose _getch reads the key.
# On 32-bit Windows this is what is tested: its programs cannot run here.
if(WIN32 AND TARGET example4)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(pe_format pei-i386)
    set(pe_magic PE32)
  else()
    set(pe_format pei-x86-64)
    set(pe_magic PE32+)
  endif()
  add_test(NAME example4.pe_imports
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DPROGRAM=$<TARGET_FILE:example4>
                   -DFORMAT=${pe_format} -DMAGIC=${pe_magic} -DREQUIRED_IMPORTS=msvcrt.dll:_getch
                   -P ${CMAKE_CURRENT_LIST_DIR}/check_pe_imports.cmake)
  set_tests_properties(example4.pe_imports PROPERTIES LABELS artefact)
endif()
