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
#include <utility>

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
  // AESIMC.
  static constexpr CoreHooks hooks{.invMixColumns = true};

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
    template <std::size_t r>
    AES128_CORE_INLINE __m128i at() const {
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

  // The rounds between the first round key and the last, written out.
  template <typename Keys, std::size_t... r>
  AES128_CORE_INLINE static __m128i encryptRounds(const Keys& roundKeys, __m128i state,
                                                  std::index_sequence<r...> /*rounds*/) {
    ((state = _mm_aesenc_si128(state, roundKey<r + 1>(roundKeys))), ...);
    return state;
  }

  template <typename Keys>
  AES128_CORE_INLINE static __m128i encrypt(const Keys& roundKeys, __m128i state) {
    state = _mm_xor_si128(state, roundKey<0>(roundKeys));
    state = encryptRounds(roundKeys, state, std::make_index_sequence<roundKeyCount - 2>{});
    return _mm_aesenclast_si128(state, roundKey<roundKeyCount - 1>(roundKeys));
  }

  // A round of either direction on n independent blocks: AESENC or AESDEC.
  template <Schedule schedule, std::size_t n>
  AES128_CORE_INLINE static void round(__m128i (&state)[n], __m128i key) {
#pragma GCC unroll 8
    for (__m128i& lane : state) {
      lane = schedule == Schedule::encryption ? _mm_aesenc_si128(lane, key)
                                              : _mm_aesdec_si128(lane, key);
    }
  }

  template <Schedule schedule, std::size_t n, typename Keys, std::size_t... r>
  AES128_CORE_INLINE static void rounds(const Keys& roundKeys, __m128i (&state)[n],
                                        std::index_sequence<r...> /*rounds*/) {
    (round<schedule>(state, roundKey<r + 1>(roundKeys)), ...);
  }

  // n independent blocks through the cipher or the inverse cipher together,
  // so that the processor overlaps their instructions.
  template <Schedule schedule, std::size_t n, typename Keys>
  AES128_CORE_INLINE static void throughRounds(const Keys& expandedKeys, __m128i (&state)[n]) {
    const Keys& roundKeys = readAgain(expandedKeys);
#pragma GCC unroll 8
    for (__m128i& lane : state) {
      lane = _mm_xor_si128(lane, roundKey<0>(roundKeys));
    }
    rounds<schedule>(roundKeys, state, std::make_index_sequence<roundKeyCount - 2>{});
    const __m128i lastKey = roundKey<roundKeyCount - 1>(roundKeys);
#pragma GCC unroll 8
    for (__m128i& lane : state) {
      lane = schedule == Schedule::encryption ? _mm_aesenclast_si128(lane, lastKey)
                                              : _mm_aesdeclast_si128(lane, lastKey);
    }
  }

  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void encrypt(const Keys& roundKeys, __m128i (&state)[n]) {
    throughRounds<Schedule::encryption>(roundKeys, state);
  }

  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decrypt(const Keys& roundKeys, __m128i (&state)[n]) {
    throughRounds<Schedule::decryption>(roundKeys, state);
  }
};

}  // namespace
}  // namespace aes128
