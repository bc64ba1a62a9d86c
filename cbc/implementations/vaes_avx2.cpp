// CBC with VAES on 256-bit AVX registers, x86-64 only. VAESDEC and
// VAESDECLAST compute AESDEC and AESDECLAST (cbc/shared/aesni_core.hpp) on
// each 128-bit half of a register independently, each half with the round
// key in the same half of the key operand: one instruction takes two blocks
// through a round. Decryption blocks are independent, so sixteen go through
// the rounds together in eight registers, twice the blocks per instruction of
// the AES-NI loop; the fewer than sixteen left at the end go through that
// loop. Encryption is serial, so wider registers cannot speed it up: it is
// the AES-NI code. The instructions are those of AES-NI on wider registers,
// and as there, no lookup depends on key or data, and no branch on anything
// but the length.
//
// Only the functions of this file and of that header are compiled for these
// instructions, each through its own target attribute, and all of them have
// internal linkage. The upper halves of the vector registers are cleared
// before returning, so that SSE code after the call pays no penalty for
// mixing it with AVX code.
#include "cbc/implementations.hpp"

#if AES_CBC_VAES

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "cbc/shared/aesni_core.hpp"
#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cbc/shared/x86_cpu.hpp"
#include "cbc/shared/x86_target.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage): attributes
#define VAES_ENTRY AES_CBC_X86_ENTRY("avx2,vaes,aes,sse2")
#define VAES_INLINE AES_CBC_X86_INLINE("avx2,vaes,aes,sse2")
// NOLINTEND(cppcoreguidelines-macro-usage)

namespace aes_cbc {
namespace {

using aesni::blockBytes;

// Two blocks to a register, eight registers: sixteen blocks in flight. A
// processor that starts two VAES instructions a cycle, each taking four
// cycles, needs eight independent ones to stay busy; the other eight
// registers hold the round key and the chaining values.
constexpr std::size_t pairs = 8;
constexpr std::size_t wideBlocks = 2 * pairs;

VAES_INLINE __m256i loadPair(const std::uint8_t* bytes) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

VAES_INLINE void storePair(std::uint8_t* bytes, __m256i value) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes), value);
}

// A round key in both halves.
VAES_INLINE __m256i inBothHalves(const __m128i& roundKey) {
  return _mm256_broadcastsi128_si256(roundKey);
}

// CBC decryption of the sixteen blocks at `group` in place, `chain` being the
// ciphertext block before them; returns the last of their ciphertexts.
VAES_INLINE __m128i decryptSixteen(const aesni::RoundKeys& roundKeys, __m128i chain,
                                   std::uint8_t* group) {
  __m256i state[pairs];
  const __m256i firstKey = inBothHalves(roundKeys[0]);
#pragma GCC unroll 8
  for (std::size_t i = 0; i < pairs; ++i) {
    state[i] = _mm256_xor_si256(loadPair(group + 2 * i * blockBytes), firstKey);
  }
#pragma GCC unroll 9
  for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
    const __m256i roundKey = inBothHalves(roundKeys[r]);
#pragma GCC unroll 8
    for (__m256i& pair : state) {
      pair = _mm256_aesdec_epi128(pair, roundKey);
    }
  }
  const __m256i lastKey = inBothHalves(roundKeys[roundKeyCount - 1]);
  const __m128i nextChain = aesni::load(group + (wideBlocks - 1) * blockBytes);
  // From the last pair down: blocks 2i and 2i+1 are chained to the
  // ciphertexts 2i-1 and 2i, one unaligned load, which the stores of the pairs
  // above have not reached yet.
#pragma GCC unroll 8
  for (std::size_t i = pairs - 1; i > 0; --i) {
    const __m256i plain = _mm256_aesdeclast_epi128(state[i], lastKey);
    storePair(group + 2 * i * blockBytes,
              _mm256_xor_si256(plain, loadPair(group + (2 * i - 1) * blockBytes)));
  }
  const __m256i firstChains = _mm256_set_m128i(aesni::load(group), chain);
  storePair(group, _mm256_xor_si256(_mm256_aesdeclast_epi128(state[0], lastKey), firstChains));
  return nextChain;
}

VAES_ENTRY void decrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
                        std::uint8_t* data, std::uint32_t length) noexcept {
  aesni::RoundKeys roundKeys;
  aesni::expandKey<Schedule::decryption>(key.data(), roundKeys);
  __m128i chain = aesni::load(iv.data());
  const std::size_t blocks = length / blockBytes;
  std::size_t b = 0;
  for (; b + wideBlocks <= blocks; b += wideBlocks) {
    chain = decryptSixteen(aesni::readAgain(roundKeys), chain, data + b * blockBytes);
  }
  aesni::decryptBlocks(roundKeys, chain, data + b * blockBytes, blocks - b);
  // The chain holds only ciphertext, which the caller had anyway.
  secure_wipe_vectors(roundKeys);
  _mm256_zeroupper();
}

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

const Implementation vaesAvx2Implementation{"vaes-avx2", cpuHasVaesAvx2, aesni::encrypt, decrypt};

}  // namespace aes_cbc

#endif
