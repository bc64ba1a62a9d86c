# Shared part of the GNU cross toolchains. The including file names the target
# (CMAKE_SYSTEM_NAME, CMAKE_SYSTEM_PROCESSOR), the compiler triplet
# (AES_CROSS_TRIPLET) and, where the compiler comes in thread-model variants,
# the suffix of the one to use (AES_CROSS_COMPILER_SUFFIX).
set(CMAKE_C_COMPILER ${AES_CROSS_TRIPLET}-gcc${AES_CROSS_COMPILER_SUFFIX})
set(CMAKE_CXX_COMPILER ${AES_CROSS_TRIPLET}-g++${AES_CROSS_COMPILER_SUFFIX})

# Headers, libraries and packages come from the target's tree only; build
# tools still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${AES_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
