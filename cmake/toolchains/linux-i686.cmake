# 32-bit x86 Linux (32-bit long and pointers), run by user-mode QEMU with the
# target's shared libraries from Debian's cross tree. QEMU's "max" CPU has
# AES-NI, so every implementation runs. The property tests also run on older
# CPUs, where QEMU stops any instruction they lack with SIGILL: that shows the
# choice each gets and that nothing runs unguarded. A Core Duo has neither
# AES-NI nor SSSE3, a Core 2 Duo SSSE3 but no AES-NI.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(AES_CROSS_TRIPLET i686-linux-gnu)
# The host's 32-bit libraries (/lib32, from libc6-i386, which clang's runtime
# packages bring in) are listed in /etc/ld.so.cache, which the emulated loader
# reads: without a library path it would pair the cross tree's loader with the
# host's libc.so.6 of another build, and the first new thread spins forever.
set(AES_QEMU_TARGET_LIBRARIES -L /usr/${AES_CROSS_TRIPLET} -E LD_LIBRARY_PATH=/usr/${AES_CROSS_TRIPLET}/lib)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static -cpu max ${AES_QEMU_TARGET_LIBRARIES})
set(AES_EXPECTED_IMPLEMENTATION aes-ni)
set(AES_EMULATED_CPUS coreduo=bitsliced core2duo=ssse3)
set(AES_EMULATOR_FOR_CPU qemu-i386-static -cpu @CPU@ ${AES_QEMU_TARGET_LIBRARIES})
# The pseudo-terminal tests execute example4 themselves, which user-mode QEMU
# cannot do; they run natively in the virtual machine of cmake/vm/vm.sh.
set(AES_VM Westmere)
set(AES_VM_SESSION ${CMAKE_BINARY_DIR}/vm-session)
set(AES_VM_RUN ${CMAKE_CURRENT_LIST_DIR}/../vm/vm.sh run ${AES_VM_SESSION})
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
