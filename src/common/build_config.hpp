// Which implementations this build can hold: the build's choice
// (AES128_TABLE_ONLY) and the architecture's instructions. Each
// implementation's file and the choice's list test these.
#pragma once

// AES128_TABLE_ONLY (1 or 0) comes from the build: 1 where the CMake option
// AES_CBC_IMPLEMENTATIONS is "table", the table-driven library alone. Else the
// architecture decides which instructions there are to use. The ARMv8 code
// assumes the usual little-endian AArch64, and needs GCC, or Clang compiling
// the whole file for the AES instructions: Clang 14's arm_neon.h declares
// them for no less. Macros, not constants: they decide what is compiled at all.
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if !AES128_TABLE_ONLY && \
    (defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86))
#define AES128_X86 1
#else
#define AES128_X86 0
#endif
// VAES on 256-bit registers: 64-bit x86 only, where sixteen vector registers
// hold the blocks in flight and the round key.
#if AES128_X86 && (defined(__x86_64__) || defined(_M_X64))
#define AES128_VAES 1
#else
#define AES128_VAES 0
#endif
#if !AES128_TABLE_ONLY && defined(__aarch64__) && defined(__AARCH64EL__) && \
    (!defined(__clang__) || defined(__ARM_FEATURE_AES))
#define AES128_ARMV8 1
#else
#define AES128_ARMV8 0
#endif
#if !AES128_TABLE_ONLY && ((defined(__aarch64__) && defined(__AARCH64EL__)) ||                  \
                           (defined(__arm__) && defined(__ARMEL__) && defined(__ARM_PCS_VFP) && \
                            defined(__GNUC__) && !defined(__clang__) && defined(__linux__)))
#define AES128_NEON 1
#else
#define AES128_NEON 0
#endif
// Plain C++, so on every target; only the table-driven library goes without.
#if !AES128_TABLE_ONLY
#define AES128_BITSLICED 1
#else
#define AES128_BITSLICED 0
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)

// Code compiled for particular instructions (AES, SSSE3, AVX2, NEON): each
// implementation's file compiles its core and the modes over it for its own
// instructions, through attributes on each function, and all that code has
// internal linkage (an unnamed namespace, or a template of a type in one).
// With external linkage, an inline function of a header would be compiled
// in several files for different instructions, and the linker would keep one
// copy for all of them: perhaps one with instructions that the CPU running
// another implementation lacks. So each file has a copy of its own, which no
// other file can call.
