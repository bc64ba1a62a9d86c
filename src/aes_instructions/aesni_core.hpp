// The AES-NI block core, which the aes-ni and vaes-avx2 implementations
// share, with the instructions as the Intel instruction set reference defines
// them: AESENC/AESENCLAST compute one encryption round (ShiftRows, SubBytes,
// MixColumns but not in the last, then the round key XOR), AESDEC/AESDECLAST
// one round of the equivalent inverse cipher of FIPS-197 section 5.3.5,
// AESIMC InvMixColumns, and AESKEYGENASSIST SubWord and RotWord of the key
// expansion. No lookup depends on key or data.
//
// Everything here is compiled for the including file's instructions (at
// least "aes,ssse3,sse2") through AES128_CORE_INLINE (modes/cbc_mode.hpp),
// with internal linkage (common/build_config.hpp). Include only where
// AES128_X86 is 1.
#pragma once

#include <emmintrin.h>
#include <tmmintrin.h>
#include <wmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "common/key_schedule.hpp"
#include "modes/block_core.hpp"
#include "modes/key_expansion.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

struct AesNiCore {
  template <Schedule>
  using RoundKeys = __m128i[roundKeyCount];
  using Block = __m128i;
  using Key = __m128i;
  using Lane = __m128i;
  static constexpr std::size_t blocksPerLane = 1;
  static constexpr bool lanesInRegisters = true;
  // Blocks that do not depend on each other (decryption's, the many-block
  // functions') go through the rounds eight together, and the processor
  // overlaps their instructions.
  static constexpr std::size_t lanes = 8;
  // Encryption is serial; two blocks to an iteration of its loop halve the
  // loop's own instructions, which are a quarter of a block's here.
  static constexpr bool unrollEncryption = true;

  AES128_CORE_INLINE static __m128i load(const std::uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  }
  AES128_CORE_INLINE static void store(std::uint8_t* bytes, __m128i value) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), value);
  }
  AES128_CORE_INLINE static __m128i bitwiseXor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }

  // --- Round keys as the block functions' words ------------------------------

  // The words hold a round key's bytes most significant first: each word's
  // four bytes reversed, one PSHUFB.
  AES128_CORE_INLINE static __m128i byteSwapWords(__m128i value) {
    return _mm_shuffle_epi8(value,
                            _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3));
  }
  AES128_CORE_INLINE static void storeWords(std::uint32_t* words, __m128i key) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(words), byteSwapWords(key));
  }
  AES128_CORE_INLINE static __m128i invMixColumns(__m128i key) { return _mm_aesimc_si128(key); }

  // The block functions' round keys, read from the words where they are
  // used. Both schedules as they stand: AESDEC takes the equivalent inverse
  // cipher's round keys.
  template <Schedule>
  struct WordKeys {
    const std::uint32_t* words;
    AES128_CORE_INLINE __m128i operator[](std::size_t r) const {
      return byteSwapWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * r)));
    }
  };

  // --- Key expansion -------------------------------------------------------

  AES128_CORE_INLINE static __m128i loadKey(const std::uint8_t* bytes) { return load(bytes); }

  // Round key i+1 from round key i. Word 3 of AESKEYGENASSIST's result is
  // SubWord(RotWord(w3)) XOR rcon; the shifts give each word the XOR of the
  // words before it (w0, w0^w1, w0^w1^w2, w0^w1^w2^w3).
  // The round constant is a constexpr local: without optimisation GCC's
  // intrinsic is a macro whose operand must be a constant expression.
  template <std::size_t i>
  AES128_CORE_INLINE static __m128i nextRoundKey(__m128i key) {
    constexpr int rcon = static_cast<int>(roundConstant(i));
    const __m128i assist = _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, rcon), 0xff);
    key = _mm_xor_si128(key, _mm_slli_si128(key, 4));
    key = _mm_xor_si128(key, _mm_slli_si128(key, 8));
    return _mm_xor_si128(key, assist);
  }

  template <Schedule schedule>
  AES128_CORE_INLINE static void expandKey(const std::uint8_t* key,
                                           RoundKeys<schedule>& roundKeys) {
    expandKeyByRounds<AesNiCore, schedule>(key, roundKeys);
  }

  // --- Blocks --------------------------------------------------------------

  // One round of either direction: AESENC or AESDEC, and the last.
  template <Schedule schedule>
  AES128_CORE_INLINE static __m128i round(__m128i state, __m128i key) {
    return schedule == Schedule::encryption ? _mm_aesenc_si128(state, key)
                                            : _mm_aesdec_si128(state, key);
  }
  template <Schedule schedule>
  AES128_CORE_INLINE static __m128i lastRound(__m128i state, __m128i key) {
    return schedule == Schedule::encryption ? _mm_aesenclast_si128(state, key)
                                            : _mm_aesdeclast_si128(state, key);
  }

  // n independent blocks through the rounds together, so that the processor
  // overlaps their instructions.
  template <Schedule schedule, std::size_t n, typename Keys>
  AES128_CORE_INLINE static void throughRounds(const Keys& roundKeys, __m128i (&state)[n]) {
#pragma GCC unroll 8
    for (__m128i& lane : state) {
      lane = _mm_xor_si128(lane, roundKeys[0]);
    }
#pragma GCC unroll 9
    for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
#pragma GCC unroll 8
      for (__m128i& lane : state) {
        lane = round<schedule>(lane, roundKeys[r]);
      }
    }
#pragma GCC unroll 8
    for (__m128i& lane : state) {
      lane = lastRound<schedule>(lane, roundKeys[roundKeyCount - 1]);
    }
  }

  // A serial block, its round keys where the compiler keeps them: through
  // throughRounds as an array of one, GCC stores them all to their array
  // first (eleven stores more in a 16-byte CBC call).
  template <typename Keys>
  AES128_CORE_INLINE static __m128i encrypt(const Keys& roundKeys, __m128i state) {
    state = _mm_xor_si128(state, roundKeys[0]);
#pragma GCC unroll 9
    for (std::size_t r = 1; r < roundKeyCount - 1; ++r) {
      state = _mm_aesenc_si128(state, roundKeys[r]);
    }
    return _mm_aesenclast_si128(state, roundKeys[roundKeyCount - 1]);
  }

  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void encrypt(const Keys& roundKeys, __m128i (&state)[n]) {
    throughRounds<Schedule::encryption>(readAgain(roundKeys), state);
  }

  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decrypt(const Keys& roundKeys, __m128i (&state)[n]) {
    throughRounds<Schedule::decryption>(readAgain(roundKeys), state);
  }
};

}  // namespace
}  // namespace aes128
