# 32-bit x86 Linux (32-bit long and pointers), run by user-mode QEMU with the
# target's shared libraries from Debian's cross tree.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AES_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -L /usr/${AES_CROSS_TRIPLET})
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
