// The yardstick of the many-block functions on VAES: the plainest loop a
// caller could write for itself, sixteen blocks an iteration in eight
// 256-bit registers, the round keys broadcast once before it, nothing
// wiped and no tail, written out as the compiler would unroll it at -O3.
// x86-64 only.
#pragma once

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "cipher/rijndael.hpp"

inline bool cpuHasVaesAvx2() {
  return __builtin_cpu_supports("vaes") && __builtin_cpu_supports("avx2");
}

// The whole 256-byte stretches of data in place, round keys in the block
// functions' words.
__attribute__((target("avx2,vaes"))) inline void plainVaesLoop(const std::uint32_t* words,
                                                               std::uint8_t* data,
                                                               std::size_t length) {
  const __m128i byteSwap = _mm_set_epi8(12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3);
  __m256i keys[aes_128_round_key_words / 4];
  for (std::size_t r = 0; r < aes_128_round_key_words / 4; ++r) {
    const __m128i key = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * r));
    keys[r] = _mm256_broadcastsi128_si256(_mm_shuffle_epi8(key, byteSwap));
  }
  constexpr std::size_t registers = 8;
  for (std::size_t at = 0; at + registers * 32 <= length; at += registers * 32) {
    __m256i state[registers];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < registers; ++i) {
      state[i] = _mm256_xor_si256(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 32 * i)), keys[0]);
    }
#pragma GCC unroll 9
    for (std::size_t r = 1; r < 10; ++r) {
#pragma GCC unroll 8
      for (__m256i& pair : state) {
        pair = _mm256_aesenc_epi128(pair, keys[r]);
      }
    }
#pragma GCC unroll 8
    for (std::size_t i = 0; i < registers; ++i) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(data + at + 32 * i),
                          _mm256_aesenclast_epi128(state[i], keys[10]));
    }
  }
}

#endif
