// The implementations behind the public functions: what each one gives (its
// CBC functions and block functions) and which are built. Internal to the
// library: choice/choice.cpp chooses one of them, and the tests and
// benchmarks run each one directly. Not installed.
//
// Every implementation follows the public conventions of cbc/aes_cbc.hpp
// exactly (in place, whole blocks only, key and IV only read, key material
// wiped), so any one of them may stand behind the public functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "math/key_schedule.hpp"

// AES_CBC_TABLE_ONLY (1 or 0) comes from the build: 1 where the CMake option
// AES_CBC_IMPLEMENTATIONS is "table", the table-driven library alone. Else the
// architecture decides which instructions there are to use. The ARMv8 code
// assumes the usual little-endian AArch64, and needs GCC, or Clang compiling
// the whole file for the AES instructions: Clang 14's arm_neon.h declares
// them for no less. Macros, not constants: they decide what is compiled at all.
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if !AES_CBC_TABLE_ONLY && \
    (defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86))
#define AES_CBC_X86 1
#else
#define AES_CBC_X86 0
#endif
// VAES on 256-bit registers: 64-bit x86 only, where sixteen vector registers
// hold the blocks in flight and the round key.
#if AES_CBC_X86 && (defined(__x86_64__) || defined(_M_X64))
#define AES_CBC_VAES 1
#else
#define AES_CBC_VAES 0
#endif
#if !AES_CBC_TABLE_ONLY && defined(__aarch64__) && defined(__AARCH64EL__) && \
    (!defined(__clang__) || defined(__ARM_FEATURE_AES))
#define AES_CBC_ARMV8 1
#else
#define AES_CBC_ARMV8 0
#endif
#if !AES_CBC_TABLE_ONLY && ((defined(__aarch64__) && defined(__AARCH64EL__)) ||                  \
                            (defined(__arm__) && defined(__ARMEL__) && defined(__ARM_PCS_VFP) && \
                             defined(__GNUC__) && !defined(__clang__) && defined(__linux__)))
#define AES_CBC_NEON 1
#else
#define AES_CBC_NEON 0
#endif
// Plain C++, so on every target; only the table-driven library goes without.
#if !AES_CBC_TABLE_ONLY
#define AES_CBC_BITSLICED 1
#else
#define AES_CBC_BITSLICED 0
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)

namespace aes_cbc {

using CbcFunction = void (*)(ConstBytes key, ConstBytes iv, std::uint8_t* data,
                             std::uint32_t length) noexcept;
using KeySetupFunction = void (*)(OutputWords roundKeys, ConstBytes key) noexcept;
using BlockFunction = void (*)(ConstWords roundKeys, ConstBytes input, OutputBytes output) noexcept;

struct Implementation {
  // As aes_128_cbc_implementation() reports it.
  const char* name;
  // Whether the CPU running this has the instructions the implementation
  // needs; asks the CPU each time.
  bool (*supported)() noexcept;
  CbcFunction encrypt;
  CbcFunction decrypt;
  // The block functions, as cipher/rijndael.hpp documents them.
  KeySetupFunction keySetupEnc;
  BlockFunction encryptBlock;
  KeySetupFunction keySetupDec;
  BlockFunction decryptBlock;
  // For the test that looks for what a call left behind: the round keys of
  // `key` as this implementation holds them in memory, as bytes. Returns
  // their count, or 0 if `image` is too small.
  std::size_t (*roundKeyImage)(ConstBytes key, Schedule schedule,
                               std::span<std::uint8_t> image) noexcept;
};

// Every implementation built in, declared from the one list.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the list's entries
#define AES_CBC_IMPLEMENTATION(entry) extern const Implementation entry;
#include "implementations/list.hpp"
#undef AES_CBC_IMPLEMENTATION

}  // namespace aes_cbc
