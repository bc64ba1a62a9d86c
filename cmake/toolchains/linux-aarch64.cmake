# 64-bit Arm Linux, run by user-mode QEMU with the target's shared libraries
# from Debian's cross tree. QEMU's default CPU has the ARMv8 Cryptography
# Extension, so the hardware CBC path runs as well as the table-driven one.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(AES_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/${AES_CROSS_TRIPLET})
set(AES_EXPECTED_IMPLEMENTATION armv8-aes)
# The secret-independence check runs under Debian's valgrind for this
# architecture (tests/CMakeLists.txt).
set(AES_VALGRIND_DEBIAN_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
