# Big-endian 64-bit Linux, run by user-mode QEMU with the target's shared
# libraries from Debian's cross tree. No implementation here uses the CPU's
# own cipher instructions: the CBC functions run the bitsliced AES.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(AES_CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x-static -L /usr/${AES_CROSS_TRIPLET})
set(AES_EXPECTED_IMPLEMENTATION bitsliced)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
