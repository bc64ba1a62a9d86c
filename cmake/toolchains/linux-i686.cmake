# 32-bit x86 Linux (32-bit long and pointers), run by user-mode QEMU with the
# target's shared libraries from Debian's cross tree. QEMU's "max" CPU has
# AES-NI, so the hardware CBC path runs as well as the table-driven one. A
# Core Duo has SSE3 but no AES-NI, and QEMU stops any AES instruction there
# with SIGILL: one test program also runs on it to show that the choice falls
# back to the tables and that no AES instruction runs unguarded.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AES_CROSS_TRIPLET i686-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -cpu max -L /usr/${AES_CROSS_TRIPLET})
set(AES_EXPECTED_IMPLEMENTATION aes-ni)
set(AES_EMULATOR_WITHOUT_AES qemu-i386-static -cpu coreduo -L /usr/${AES_CROSS_TRIPLET})
# The pseudo-terminal tests execute example4 themselves, which user-mode QEMU
# cannot do; they run natively in the virtual machine of cmake/vm/vm.sh.
set(AES_VM Westmere)
set(AES_VM_SESSION ${CMAKE_BINARY_DIR}/vm-session)
set(AES_VM_RUN ${CMAKE_CURRENT_LIST_DIR}/../vm/vm.sh run ${AES_VM_SESSION})
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
