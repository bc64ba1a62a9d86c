# 32-bit Arm Linux with hardware floating point (arm-linux-gnueabihf), as
# Raspberry Pi OS ships it, run by user-mode QEMU with the target's shared
# libraries from Debian's cross tree. These cores have no AES instructions.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(AES_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static -L /usr/${AES_CROSS_TRIPLET})
set(AES_EXPECTED_IMPLEMENTATION bitsliced)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)
