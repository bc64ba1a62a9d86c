# 32-bit Windows on msvcrt.dll, the program's home platform. Debian's
# i686-w64-mingw32 targets msvcrt.dll by default. The posix thread variant
# gives the standard library std::mutex and std::thread; -static links its
# winpthread part together with libgcc and libstdc++ into the program, and
# into the DLL of a BUILD_SHARED_LIBS build, so the only DLLs either needs are
# the system's and msvcrt.dll: the DLL loads beside a program on any Windows.
# This machine's kernel cannot run 32-bit code, so the programs run under
# 32-bit Wine in a virtual machine (cmake/vm/vm.sh), on a Westmere CPU, which
# has AES-NI.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AES_CROSS_TRIPLET i686-w64-mingw32)
set(AES_CROSS_COMPILER_SUFFIX -posix)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(AES_VM Westmere)
set(AES_VM_SESSION ${CMAKE_BINARY_DIR}/vm-session)
set(AES_VM_RUN ${CMAKE_CURRENT_LIST_DIR}/../vm/vm.sh run ${AES_VM_SESSION})
set(CMAKE_CROSSCOMPILING_EMULATOR ${AES_VM_RUN})
set(AES_EXPECTED_IMPLEMENTATION aes-ni)
# A Core 2 Duo has SSSE3 but no AES-NI: the property tests also run there, in
# a second machine, to show the choice it gets.
set(AES_EMULATED_CPUS core2duo=ssse3)
set(AES_EMULATED_CPUS_IN_VM ON)
set(AES_EMULATOR_FOR_CPU ${CMAKE_CURRENT_LIST_DIR}/../vm/vm.sh run ${CMAKE_BINARY_DIR}/vm-session-@CPU@)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
