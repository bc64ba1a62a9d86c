# 32-bit Arm Linux with hardware floating point (arm-linux-gnueabihf: ARMv7
# with VFP), the 32-bit system that Raspberry Pi 2 to 4 run, run by user-mode
# QEMU with the target's shared libraries from Debian's cross tree. None of
# these cores has AES instructions. QEMU's default CPU has NEON, so the CBC
# functions choose the vector-permute implementation; a Cortex-R5F has VFP
# but no NEON, and there they must choose the bitsliced one.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(AES_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/${AES_CROSS_TRIPLET})
set(AES_EXPECTED_IMPLEMENTATION neon)
set(AES_EMULATED_CPUS cortex-r5f=bitsliced)
set(AES_EMULATOR_FOR_CPU qemu-arm-static -cpu @CPU@ -L /usr/${AES_CROSS_TRIPLET})
# The secret-independence check runs under Debian's valgrind for this
# architecture (tests/CMakeLists.txt).
set(AES_VALGRIND_DEBIAN_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
