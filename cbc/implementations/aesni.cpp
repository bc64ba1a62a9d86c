// CBC with the AES instructions of x86 and x86-64 (AES-NI), as the Intel
// instruction set reference defines them: AESENC/AESENCLAST compute one
// encryption round (ShiftRows, SubBytes, MixColumns but not in the last, then
// the round key XOR), AESDEC/AESDECLAST one round of the equivalent inverse
// cipher of FIPS-197 section 5.3.5, AESIMC InvMixColumns, and AESKEYGENASSIST
// SubWord and RotWord of the key expansion. No lookup depends on key or data.
//
// Only the functions of this file are compiled for AES-NI, each through its
// own target attribute, and all of them have internal linkage: no inline
// function of a header is ever compiled with these instructions and then
// shared with code that runs on a CPU without them.
#include "cbc/implementations.hpp"

#if AES_CBC_X86

#include <emmintrin.h>
#include <wmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cbc/shared/x86_cpu.hpp"
#include "cbc/shared/x86_target.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#define AES_NI_ENTRY AES_CBC_X86_ENTRY("aes,sse2")
#define AES_NI_INLINE AES_CBC_X86_INLINE("aes,sse2")
// NOLINTEND(cppcoreguidelines-macro-usage)

namespace aes_cbc {
namespace {

constexpr std::size_t blockBytes = 16;
using RoundKeys = __m128i[roundKeyCount];

AES_NI_INLINE __m128i load(const std::uint8_t* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

AES_NI_INLINE void store(std::uint8_t* bytes, __m128i value) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), value);
}

// Round key i+1 from round key i. Word 3 of AESKEYGENASSIST's result is
// SubWord(RotWord(w3)) XOR rcon; the shifts give each word the XOR of the
// words before it (w0, w0^w1, w0^w1^w2, w0^w1^w2^w3).
// The round constant is a constexpr local: without optimisation GCC's
// intrinsic is a macro whose operand must be a constant expression.
template <std::size_t i>
AES_NI_INLINE __m128i nextRoundKey(__m128i key) {
  constexpr int rcon = static_cast<int>(roundConstant(i));
  const __m128i assist = _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, rcon), 0xff);
  key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
  key = _mm_xor_si128(key, _mm_slli_si128(key, 8));
  return _mm_xor_si128(key, assist);
}

// Round key r of the expansion in its place in the schedule.
template <Schedule schedule, std::size_t r>
AES_NI_INLINE void place(RoundKeys& roundKeys, __m128i key) {
  if constexpr (throughInvMixColumns(schedule, r)) {
    roundKeys[placeOf(schedule, r)] = _mm_aesimc_si128(key);
  } else {
    roundKeys[placeOf(schedule, r)] = key;
  }
}

template <Schedule schedule, std::size_t... i>
AES_NI_INLINE void expandKey(const std::uint8_t* key, RoundKeys& roundKeys,
                             std::index_sequence<i...> /*steps*/) {
  __m128i roundKey = load(key);
  place<schedule, 0>(roundKeys, roundKey);
  ((roundKey = nextRoundKey<i>(roundKey), place<schedule, i + 1>(roundKeys, roundKey)), ...);
}

template <Schedule schedule>
AES_NI_INLINE void expandKey(const std::uint8_t* key, RoundKeys& roundKeys) {
  expandKey<schedule>(key, roundKeys, std::make_index_sequence<roundKeyCount - 1>{});
}

AES_NI_INLINE __m128i encryptBlock(const RoundKeys& roundKeys, __m128i state) {
  state = _mm_xor_si128(state, roundKeys[0]);
#pragma GCC unroll 9
  for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
    state = _mm_aesenc_si128(state, roundKeys[r]);
  }
  return _mm_aesenclast_si128(state, roundKeys[roundKeyCount - 1]);
}

AES_NI_INLINE __m128i decryptBlock(const RoundKeys& roundKeys, __m128i state) {
  state = _mm_xor_si128(state, roundKeys[0]);
#pragma GCC unroll 9
  for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
    state = _mm_aesdec_si128(state, roundKeys[r]);
  }
  return _mm_aesdeclast_si128(state, roundKeys[roundKeyCount - 1]);
}

// Each block waits for the ciphertext of the one before: encryption is serial.
AES_NI_ENTRY void encrypt(std::span<const std::uint8_t, 16> key,
                          std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                          std::uint32_t length) noexcept {
  RoundKeys roundKeys;
  expandKey<Schedule::encryption>(key.data(), roundKeys);
  __m128i chain = load(iv.data());
  const std::size_t blocks = length / blockBytes;
#pragma GCC unroll 2
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint8_t* block = data + b * blockBytes;
    chain = encryptBlock(roundKeys, _mm_xor_si128(chain, load(block)));
    store(block, chain);
  }
  // The chain holds only ciphertext, which the caller has anyway.
  secure_wipe(roundKeys, sizeof roundKeys);
}

// Decryption blocks do not depend on each other, so eight go through the
// rounds together and the processor overlaps their instructions.
constexpr std::size_t lanes = 8;

AES_NI_ENTRY void decrypt(std::span<const std::uint8_t, 16> key,
                          std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                          std::uint32_t length) noexcept {
  RoundKeys roundKeys;
  expandKey<Schedule::decryption>(key.data(), roundKeys);
  __m128i chain = load(iv.data());
  const std::size_t blocks = length / blockBytes;
  std::size_t b = 0;
  for (; b + lanes <= blocks; b += lanes) {
    std::uint8_t* group = data + b * blockBytes;
    __m128i state[lanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < lanes; ++i) {
      state[i] = _mm_xor_si128(load(group + i * blockBytes), roundKeys[0]);
    }
#pragma GCC unroll 9
    for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
#pragma GCC unroll 8
      for (__m128i& lane : state) {
        lane = _mm_aesdec_si128(lane, roundKeys[r]);
      }
    }
    const __m128i nextChain = load(group + (lanes - 1) * blockBytes);
    // From the last block down, so that the ciphertext each block is chained
    // to is still in place when it is read.
#pragma GCC unroll 8
    for (std::size_t i = lanes - 1; i > 0; --i) {
      const __m128i plain = _mm_aesdeclast_si128(state[i], roundKeys[roundKeyCount - 1]);
      store(group + i * blockBytes, _mm_xor_si128(plain, load(group + (i - 1) * blockBytes)));
    }
    store(group,
          _mm_xor_si128(_mm_aesdeclast_si128(state[0], roundKeys[roundKeyCount - 1]), chain));
    chain = nextChain;
  }
  for (; b < blocks; ++b) {
    std::uint8_t* block = data + b * blockBytes;
    const __m128i cipher = load(block);
    store(block, _mm_xor_si128(decryptBlock(roundKeys, cipher), chain));
    chain = cipher;
  }
  // The chain holds only ciphertext, which the caller had anyway.
  secure_wipe(roundKeys, sizeof roundKeys);
}

bool cpuHasAesNi() noexcept {
  const x86::CpuidRegisters leaf1 = x86::cpuid(1);
  return (leaf1.ecx & x86::leaf1EcxAes) != 0 && (leaf1.edx & x86::leaf1EdxSse2) != 0;
}

}  // namespace

const Implementation aesNiImplementation{"aes-ni", cpuHasAesNi, encrypt, decrypt};

}  // namespace aes_cbc

#endif
