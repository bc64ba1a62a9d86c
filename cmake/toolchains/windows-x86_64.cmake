# 64-bit Windows, where the Windows code paths run: under wine64, in a Wine
# prefix of the build tree's own. Linked like the i686 program (posix thread
# variant for std::mutex, everything but system DLLs and msvcrt.dll static, in
# the programs and in the DLL of a BUILD_SHARED_LIBS build).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(AES_CROSS_TRIPLET x86_64-w64-mingw32)
set(AES_CROSS_COMPILER_SUFFIX -posix)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(AES_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../wine64-run.sh ${AES_WINE_PREFIX})
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
