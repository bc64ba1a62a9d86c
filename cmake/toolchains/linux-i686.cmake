# 32-bit x86 Linux (32-bit long and pointers), run by user-mode QEMU with the
# target's shared libraries from Debian's cross tree. QEMU's "max" CPU has
# AES-NI, so the hardware CBC path runs as well as the table-driven one. A
# Core 2 ("Conroe") has SSE2 but no AES-NI: one test program also runs there
# to show the choice falling back to the tables.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AES_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -cpu max -L /usr/${AES_CROSS_TRIPLET})
set(AES_EXPECTED_IMPLEMENTATION aes-ni)
set(AES_EMULATOR_WITHOUT_AES qemu-i386-static -cpu Conroe -L /usr/${AES_CROSS_TRIPLET})
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
