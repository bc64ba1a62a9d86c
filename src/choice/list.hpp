// The implementations the choice takes from, the preferred first, each where
// its architecture and the build allow (common/build_config.hpp): the one
// // list, which declares them and gives the choice its order. Included with
// AES128_IMPLEMENTATION(entry) defined, once for each use; no include guard,
// for that reason.
//
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if AES128_VAES
// VAES and AVX2, on x86-64 CPUs that have them (and AES-NI).
AES128_IMPLEMENTATION(vaesAvx2Implementation)
#endif
#if AES128_X86
// AES-NI, on x86 and x86-64 CPUs that have it.
AES128_IMPLEMENTATION(aesNiImplementation)
#endif
#if AES128_ARMV8
// The AES instructions of the ARMv8 Cryptography Extension, on AArch64.
AES128_IMPLEMENTATION(armv8AesImplementation)
#endif
#if AES128_X86
// Vector permutes with SSSE3's byte shuffle, on x86 and x86-64 CPUs that
// have it.
AES128_IMPLEMENTATION(ssse3Implementation)
#endif
#if AES128_NEON
// Vector permutes with NEON's table lookup, on AArch64 and on 32-bit Arm
// CPUs that have NEON.
AES128_IMPLEMENTATION(neonImplementation)
#endif
#if AES128_BITSLICED
// Bitsliced AES in plain C++, constant-time on any CPU.
AES128_IMPLEMENTATION(bitslicedImplementation)
#endif
#if AES128_TABLE_ONLY
// The table-driven cipher, on any CPU: the table-only build's one.
AES128_IMPLEMENTATION(tableImplementation)
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)
