// The AES-NI code that the aes-ni and vaes-avx2 implementations share, with
// the instructions as the Intel instruction set reference defines them:
// AESENC/AESENCLAST compute one encryption round (ShiftRows, SubBytes,
// MixColumns but not in the last, then the round key XOR), AESDEC/AESDECLAST
// one round of the equivalent inverse cipher of FIPS-197 section 5.3.5,
// AESIMC InvMixColumns, and AESKEYGENASSIST SubWord and RotWord of the key
// expansion. No lookup depends on key or data.
//
// Every function here is compiled for AES-NI through its own target attribute
// and is `static`: each implementation file that includes this gets a copy of
// its own, which no other file can call, so no code compiled for these
// instructions is ever shared with code that runs on a CPU without them.
// Include only where AES_CBC_X86 is 1.
#pragma once

#include <emmintrin.h>
#include <wmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cbc/shared/x86_target.hpp"

// Attributes: AES_NI_ENTRY for the functions that the implementation tables
// point to, AES_NI_INLINE for the pieces inlined into them.
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#define AES_NI_ENTRY AES_CBC_X86_ENTRY("aes,sse2")
#define AES_NI_INLINE AES_CBC_X86_INLINE("aes,sse2")
// NOLINTEND(cppcoreguidelines-macro-usage)

namespace aes_cbc::aesni {

constexpr std::size_t blockBytes = 16;
using RoundKeys = __m128i[roundKeyCount];

static AES_NI_INLINE __m128i load(const std::uint8_t* bytes) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

static AES_NI_INLINE void store(std::uint8_t* bytes, __m128i value) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), value);
}

// Round key i+1 from round key i. Word 3 of AESKEYGENASSIST's result is
// SubWord(RotWord(w3)) XOR rcon; the shifts give each word the XOR of the
// words before it (w0, w0^w1, w0^w1^w2, w0^w1^w2^w3).
// The round constant is a constexpr local: without optimisation GCC's
// intrinsic is a macro whose operand must be a constant expression.
template <std::size_t i>
static AES_NI_INLINE __m128i nextRoundKey(__m128i key) {
  constexpr int rcon = static_cast<int>(roundConstant(i));
  const __m128i assist = _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, rcon), 0xff);
  key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
  key = _mm_xor_si128(key, _mm_slli_si128(key, 8));
  return _mm_xor_si128(key, assist);
}

// Round key r of the expansion in its place in the schedule.
template <Schedule schedule, std::size_t r>
static AES_NI_INLINE void place(RoundKeys& roundKeys, __m128i key) {
  if constexpr (throughInvMixColumns(schedule, r)) {
    roundKeys[placeOf(schedule, r)] = _mm_aesimc_si128(key);
  } else {
    roundKeys[placeOf(schedule, r)] = key;
  }
}

template <Schedule schedule, std::size_t... i>
static AES_NI_INLINE void expandKey(const std::uint8_t* key, RoundKeys& roundKeys,
                                    std::index_sequence<i...> /*steps*/) {
  __m128i roundKey = load(key);
  place<schedule, 0>(roundKeys, roundKey);
  ((roundKey = nextRoundKey<i>(roundKey), place<schedule, i + 1>(roundKeys, roundKey)), ...);
}

template <Schedule schedule>
static AES_NI_INLINE void expandKey(const std::uint8_t* key, RoundKeys& roundKeys) {
  expandKey<schedule>(key, roundKeys, std::make_index_sequence<roundKeyCount - 1>{});
}

static AES_NI_INLINE __m128i encryptBlock(const RoundKeys& roundKeys, __m128i state) {
  state = _mm_xor_si128(state, roundKeys[0]);
#pragma GCC unroll 9
  for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
    state = _mm_aesenc_si128(state, roundKeys[r]);
  }
  return _mm_aesenclast_si128(state, roundKeys[roundKeyCount - 1]);
}

static AES_NI_INLINE __m128i decryptBlock(const RoundKeys& roundKeys, __m128i state) {
  state = _mm_xor_si128(state, roundKeys[0]);
#pragma GCC unroll 9
  for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
    state = _mm_aesdec_si128(state, roundKeys[r]);
  }
  return _mm_aesdeclast_si128(state, roundKeys[roundKeyCount - 1]);
}

// CBC encryption, a whole call. Each block waits for the ciphertext of the
// one before: encryption is serial, and wider registers would not help it.
static AES_NI_ENTRY void encrypt(std::span<const std::uint8_t, 16> key,
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
  secure_wipe_vectors(roundKeys);
}

// The round keys, through a pointer that an empty assembly statement claims
// to change, so that the compiler reads them from the array where they are
// used. Otherwise it keeps them in registers from the expansion on; with more
// keys and blocks than registers it then stores copies to other stack slots,
// which the wipe does not reach and which cost stores of their own.
static AES_NI_INLINE const RoundKeys& readAgain(const RoundKeys& roundKeys) {
  const RoundKeys* keys = &roundKeys;
#if defined(__GNUC__) || defined(__clang__)
  __asm__("" : "+r"(keys));
#endif
  return *keys;
}

// Decryption blocks do not depend on each other, so eight go through the
// rounds together and the processor overlaps their instructions.
constexpr std::size_t lanes = 8;

// CBC decryption of `blocks` blocks at `data` in place, `chain` being the
// ciphertext block before them (or the IV).
static AES_NI_INLINE void decryptBlocks(const RoundKeys& expandedKeys, __m128i chain,
                                        std::uint8_t* data, std::size_t blocks) {
  std::size_t b = 0;
  for (; b + lanes <= blocks; b += lanes) {
    const RoundKeys& roundKeys = readAgain(expandedKeys);
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
    store(block, _mm_xor_si128(decryptBlock(readAgain(expandedKeys), cipher), chain));
    chain = cipher;
  }
}

}  // namespace aes_cbc::aesni
