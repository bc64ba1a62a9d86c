// The implementations the choice takes from, the preferred first, each where
// its architecture and the build allow (common/build_config.hpp): the one
// // list, which declares them and gives the choice its order. Included with
// AES_CBC_IMPLEMENTATION(entry) defined, once for each use; no include guard,
// for that reason.
//
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if AES_CBC_VAES
// VAES and AVX2, on x86-64 CPUs that have them (and AES-NI).
AES_CBC_IMPLEMENTATION(vaesAvx2Implementation)
#endif
#if AES_CBC_X86
// AES-NI, on x86 and x86-64 CPUs that have it.
AES_CBC_IMPLEMENTATION(aesNiImplementation)
#endif
#if AES_CBC_ARMV8
// The AES instructions of the ARMv8 Cryptography Extension, on AArch64.
AES_CBC_IMPLEMENTATION(armv8AesImplementation)
#endif
#if AES_CBC_X86
// Vector permutes with SSSE3's byte shuffle, on x86 and x86-64 CPUs that
// have it.
AES_CBC_IMPLEMENTATION(ssse3Implementation)
#endif
#if AES_CBC_NEON
// Vector permutes with NEON's table lookup, on AArch64 and on 32-bit Arm
// CPUs that have NEON.
AES_CBC_IMPLEMENTATION(neonImplementation)
#endif
#if AES_CBC_BITSLICED
// Bitsliced AES in plain C++, constant-time on any CPU.
AES_CBC_IMPLEMENTATION(bitslicedImplementation)
#endif
#if AES_CBC_TABLE_ONLY
// The table-driven cipher, on any CPU: the table-only build's one.
AES_CBC_IMPLEMENTATION(tableImplementation)
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)
