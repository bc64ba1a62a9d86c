# 32-bit Windows on msvcrt.dll, the program's home platform. Debian's
# i686-w64-mingw32 targets msvcrt.dll by default. The posix thread variant
# gives the standard library std::mutex and std::thread; -static links its
# winpthread part together with libgcc and libstdc++ into the program, so the
# only DLLs it needs are the system's and msvcrt.dll. Nothing here runs these
# programs: their file format is checked instead.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AES_CROSS_TRIPLET i686-w64-mingw32)
set(AES_CROSS_COMPILER_SUFFIX -posix)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
