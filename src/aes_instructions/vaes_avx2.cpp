// CBC with VAES on 256-bit AVX registers, x86-64 only. VAESDEC and
// VAESDECLAST compute AESDEC and AESDECLAST (aes_instructions/aesni_core.hpp) on
// each 128-bit half of a register independently, each half with the round
// key in the same half of the key operand (VAESENC and VAESENCLAST likewise):
// one instruction takes two blocks through a round. Where blocks are
// independent (CBC decryption, the many-block functions), this core's lane
// is a register of two blocks, and sixteen blocks go through the rounds
// together in eight of them, twice the blocks per instruction of the AES-NI
// core. CBC encryption is serial, so wider registers cannot speed it up: it
// is the AES-NI core's. The instructions are those of AES-NI on wider registers, and
// as there, no lookup depends on key or data, and no branch on anything but
// the length.
//
// Only the functions of this file and of the headers it includes after the
// attributes are compiled for these instructions, each through its own target
// attribute, with internal linkage (common/build_config.hpp). The compilers
// clear the upper halves of the vector registers before returning, so that
// SSE code after the call pays no penalty for mixing it with AVX code.
#include "modes/implementation.hpp"

#if AES128_VAES

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/x86_cpu.hpp"
#include "common/x86_target.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage): attributes
#define AES128_CORE_ENTRY AES128_X86_ENTRY("avx2,vaes,aes,ssse3,sse2")
#define AES128_CORE_INLINE AES128_X86_INLINE("avx2,vaes,aes,ssse3,sse2")
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "aes_instructions/aesni_core.hpp"
#include "modes/implementation_of.hpp"

namespace aes128 {
namespace {

struct VaesAvx2Core : AesNiCore {
  // cppcheck-suppress duplInheritedMember ; this core also names its single-block core
  static constexpr CoreHooks hooks{.invMixColumns = true, .singleBlockCore = true};
  // Single blocks, for the block functions and a block that does not fill a
  // lane: a lane of two would broadcast every round key for one.
  using SingleBlockCore = AesNiCore;
  using Lane = __m256i;
  // cppcheck-suppress duplInheritedMember ; this core's lanes are its own
  static constexpr std::size_t blocksPerLane = 2;
  // Sixteen blocks in flight. A processor that starts two VAES instructions
  // a cycle, each taking four cycles, needs eight independent ones to stay
  // busy; the other eight registers hold the round key and the chaining
  // values.
  // cppcheck-suppress duplInheritedMember ; as above
  static constexpr std::size_t lanes = 8;

  AES128_CORE_INLINE static __m256i loadLane(const std::uint8_t* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  }
  AES128_CORE_INLINE static void storeLane(std::uint8_t* bytes, __m256i value) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes), value);
  }
  using AesNiCore::bitwiseXor;
  AES128_CORE_INLINE static __m256i bitwiseXor(__m256i a, __m256i b) {
    return _mm256_xor_si256(a, b);
  }
  AES128_CORE_INLINE static __m256i firstPrevious(__m128i chain, const std::uint8_t* group) {
    return _mm256_set_m128i(load(group), chain);
  }

  // Each round key in both halves.
  template <std::size_t r, typename Keys>
  AES128_CORE_INLINE static __m256i inBothHalves(const Keys& roundKeys) {
    return _mm256_broadcastsi128_si256(roundKey<r>(roundKeys));
  }

  // A round of either direction on n lanes.
  // cppcheck-suppress duplInheritedMember ; on this core's lanes
  template <Schedule schedule, std::size_t n>
  AES128_CORE_INLINE static void round(__m256i (&state)[n], __m256i key) {
#pragma GCC unroll 8
    for (__m256i& pair : state) {
      pair = schedule == Schedule::encryption ? _mm256_aesenc_epi128(pair, key)
                                              : _mm256_aesdec_epi128(pair, key);
    }
  }

  // cppcheck-suppress duplInheritedMember ; as above
  template <Schedule schedule, std::size_t n, typename Keys, std::size_t... r>
  AES128_CORE_INLINE static void rounds(const Keys& roundKeys, __m256i (&state)[n],
                                        std::index_sequence<r...> /*rounds*/) {
    (round<schedule>(state, inBothHalves<r + 1>(roundKeys)), ...);
  }

  // cppcheck-suppress duplInheritedMember ; as above
  template <Schedule schedule, std::size_t n, typename Keys>
  AES128_CORE_INLINE static void throughRounds(const Keys& expandedKeys, __m256i (&state)[n]) {
    const Keys& roundKeys = readAgain(expandedKeys);
    const __m256i firstKey = inBothHalves<0>(roundKeys);
#pragma GCC unroll 8
    for (__m256i& pair : state) {
      pair = _mm256_xor_si256(pair, firstKey);
    }
    rounds<schedule>(roundKeys, state, std::make_index_sequence<roundKeyCount - 2>{});
    const __m256i lastKey = inBothHalves<roundKeyCount - 1>(roundKeys);
#pragma GCC unroll 8
    for (__m256i& pair : state) {
      pair = schedule == Schedule::encryption ? _mm256_aesenclast_epi128(pair, lastKey)
                                              : _mm256_aesdeclast_epi128(pair, lastKey);
    }
  }

  using AesNiCore::encrypt;
  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void encrypt(const Keys& roundKeys, __m256i (&state)[n]) {
    throughRounds<Schedule::encryption>(roundKeys, state);
  }
  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decrypt(const Keys& roundKeys, __m256i (&state)[n]) {
    throughRounds<Schedule::decryption>(roundKeys, state);
  }
};

// VAES on 256-bit registers needs AVX2's integer instructions around it,
// AES-NI for the key expansion, and an operating system that saves the
// registers' upper halves (XCR0, readable once OSXSAVE is set).
bool cpuHasVaesAvx2() noexcept {
  const x86::CpuidRegisters leaf1 = x86::cpuid(1);
  constexpr unsigned leaf1Needs = x86::leaf1EcxAes | x86::leaf1EcxOsxsave | x86::leaf1EcxAvx;
  if ((leaf1.ecx & leaf1Needs) != leaf1Needs ||
      (x86::xcr0() & x86::xcr0SseAndAvxState) != x86::xcr0SseAndAvxState) {
    return false;
  }
  const x86::CpuidRegisters leaf7 = x86::cpuid(7);
  return (leaf7.ebx & x86::leaf7EbxAvx2) != 0 && (leaf7.ecx & x86::leaf7EcxVaes) != 0;
}

}  // namespace

extern constinit const Implementation vaesAvx2Implementation =
    implementationOf<VaesAvx2Core>("vaes-avx2", cpuHasVaesAvx2);

}  // namespace aes128

#endif
