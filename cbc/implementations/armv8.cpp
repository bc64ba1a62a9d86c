// CBC with the AES instructions of the ARMv8 Cryptography Extension, as the
// Arm architecture reference defines them: AESE is AddRoundKey, ShiftRows and
// SubBytes, AESMC MixColumns, AESD AddRoundKey, InvShiftRows and
// InvSubBytes, AESIMC InvMixColumns. No lookup depends on key or data.
//
// Only the functions of this file are compiled for these instructions, each
// through its own target attribute, and all of them have internal linkage:
// no inline function of a header is compiled with them and then shared with
// code that runs on a CPU without them.
#include "cbc/implementations.hpp"

#if AES_CBC_ARMV8

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#if defined(__linux__)
#include <sys/auxv.h>
#endif

#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"

#if defined(__clang__)
#define ARMV8_AES_ENTRY __attribute__((target("aes")))
#define ARMV8_AES_INLINE __attribute__((target("aes"), always_inline)) inline
#else
// GCC 12's arm_neon.h declares the AES intrinsics under "+crypto" (AES and
// SHA-2), so that is what their callers must be compiled for.
#define ARMV8_AES_ENTRY __attribute__((target("+crypto")))
#define ARMV8_AES_INLINE __attribute__((target("+crypto"), always_inline)) inline
#endif

namespace aes_cbc {
namespace {

constexpr std::size_t blockBytes = 16;
using RoundKeys = uint8x16_t[roundKeyCount];

// SubWord(RotWord(w)) XOR rcon of FIPS-197 section 5.2, with the word's first
// byte in its low byte. AESE with a zero key on four copies of the word is
// SubBytes alone: ShiftRows only moves bytes between equal columns.
template <std::size_t i>
ARMV8_AES_INLINE std::uint32_t subRotWord(std::uint32_t word) {
  const uint8x16_t copies = vreinterpretq_u8_u32(vdupq_n_u32(word));
  const std::uint32_t substituted =
      vgetq_lane_u32(vreinterpretq_u32_u8(vaeseq_u8(copies, vdupq_n_u8(0))), 0);
  return ((substituted >> 8) | (substituted << 24)) ^ roundConstant(i);
}

// Round key i+1 from round key i, word by word as FIPS-197 writes it.
template <std::size_t i>
ARMV8_AES_INLINE uint8x16_t nextRoundKey(uint8x16_t key) {
  uint32x4_t words = vreinterpretq_u32_u8(key);
  const std::uint32_t w0 = vgetq_lane_u32(words, 0) ^ subRotWord<i>(vgetq_lane_u32(words, 3));
  const std::uint32_t w1 = vgetq_lane_u32(words, 1) ^ w0;
  const std::uint32_t w2 = vgetq_lane_u32(words, 2) ^ w1;
  const std::uint32_t w3 = vgetq_lane_u32(words, 3) ^ w2;
  words = vsetq_lane_u32(w0, words, 0);
  words = vsetq_lane_u32(w1, words, 1);
  words = vsetq_lane_u32(w2, words, 2);
  words = vsetq_lane_u32(w3, words, 3);
  return vreinterpretq_u8_u32(words);
}

// Round key r of the expansion in its place in the schedule.
template <Schedule schedule, std::size_t r>
ARMV8_AES_INLINE void place(RoundKeys& roundKeys, uint8x16_t key) {
  if constexpr (throughInvMixColumns(schedule, r)) {
    roundKeys[placeOf(schedule, r)] = vaesimcq_u8(key);
  } else {
    roundKeys[placeOf(schedule, r)] = key;
  }
}

template <Schedule schedule, std::size_t... i>
ARMV8_AES_INLINE void expandKey(const std::uint8_t* key, RoundKeys& roundKeys,
                                std::index_sequence<i...> /*steps*/) {
  uint8x16_t roundKey = vld1q_u8(key);
  place<schedule, 0>(roundKeys, roundKey);
  ((roundKey = nextRoundKey<i>(roundKey), place<schedule, i + 1>(roundKeys, roundKey)), ...);
}

template <Schedule schedule>
ARMV8_AES_INLINE void expandKey(const std::uint8_t* key, RoundKeys& roundKeys) {
  expandKey<schedule>(key, roundKeys, std::make_index_sequence<roundKeyCount - 1>{});
}

// AESE XORs the round key first, so round key r enters round r+1, and the
// last round key is a plain XOR.
ARMV8_AES_INLINE uint8x16_t encryptBlock(const RoundKeys& roundKeys, uint8x16_t state) {
#pragma GCC unroll 9
  for (std::size_t r = 0; r < roundKeyCount - 2; ++r) {
    state = vaesmcq_u8(vaeseq_u8(state, roundKeys[r]));
  }
  state = vaeseq_u8(state, roundKeys[roundKeyCount - 2]);
  return veorq_u8(state, roundKeys[roundKeyCount - 1]);
}

ARMV8_AES_INLINE uint8x16_t decryptBlock(const RoundKeys& roundKeys, uint8x16_t state) {
#pragma GCC unroll 9
  for (std::size_t r = 0; r < roundKeyCount - 2; ++r) {
    state = vaesimcq_u8(vaesdq_u8(state, roundKeys[r]));
  }
  state = vaesdq_u8(state, roundKeys[roundKeyCount - 2]);
  return veorq_u8(state, roundKeys[roundKeyCount - 1]);
}

// Each block waits for the ciphertext of the one before: encryption is serial.
ARMV8_AES_ENTRY void encrypt(std::span<const std::uint8_t, 16> key,
                             std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                             std::uint32_t length) noexcept {
  RoundKeys roundKeys;
  expandKey<Schedule::encryption>(key.data(), roundKeys);
  uint8x16_t chain = vld1q_u8(iv.data());
  const std::size_t blocks = length / blockBytes;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::uint8_t* block = data + b * blockBytes;
    chain = encryptBlock(roundKeys, veorq_u8(chain, vld1q_u8(block)));
    vst1q_u8(block, chain);
  }
  // The chain holds only ciphertext, which the caller has anyway.
  secure_wipe_vectors(roundKeys);
}

// Decryption blocks do not depend on each other, so eight go through the
// rounds together and the processor overlaps their instructions.
constexpr std::size_t lanes = 8;

ARMV8_AES_ENTRY void decrypt(std::span<const std::uint8_t, 16> key,
                             std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                             std::uint32_t length) noexcept {
  RoundKeys roundKeys;
  expandKey<Schedule::decryption>(key.data(), roundKeys);
  uint8x16_t chain = vld1q_u8(iv.data());
  const std::size_t blocks = length / blockBytes;
  std::size_t b = 0;
  for (; b + lanes <= blocks; b += lanes) {
    std::uint8_t* group = data + b * blockBytes;
    uint8x16_t cipher[lanes];
    uint8x16_t state[lanes];
#pragma GCC unroll 8
    for (std::size_t i = 0; i < lanes; ++i) {
      cipher[i] = vld1q_u8(group + i * blockBytes);
      state[i] = cipher[i];
    }
#pragma GCC unroll 9
    for (std::size_t r = 0; r < roundKeyCount - 2; ++r) {
#pragma GCC unroll 8
      for (uint8x16_t& lane : state) {
        lane = vaesimcq_u8(vaesdq_u8(lane, roundKeys[r]));
      }
    }
#pragma GCC unroll 8
    for (std::size_t i = 0; i < lanes; ++i) {
      const uint8x16_t plain =
          veorq_u8(vaesdq_u8(state[i], roundKeys[roundKeyCount - 2]), roundKeys[roundKeyCount - 1]);
      vst1q_u8(group + i * blockBytes, veorq_u8(plain, i == 0 ? chain : cipher[i - 1]));
    }
    chain = cipher[lanes - 1];
  }
  for (; b < blocks; ++b) {
    std::uint8_t* block = data + b * blockBytes;
    const uint8x16_t cipher = vld1q_u8(block);
    vst1q_u8(block, veorq_u8(decryptBlock(roundKeys, cipher), chain));
    chain = cipher;
  }
  // The chain holds only ciphertext, which the caller had anyway.
  secure_wipe_vectors(roundKeys);
}

bool cpuHasArmv8Aes() noexcept {
#if defined(__ARM_FEATURE_AES) || defined(__APPLE__)
  return true;  // the build targets such CPUs only
#elif defined(__linux__)
  constexpr unsigned long aesCapability = 1UL << 3;  // HWCAP_AES
  return (getauxval(AT_HWCAP) & aesCapability) != 0;
#else
  return false;
#endif
}

}  // namespace

const Implementation armv8AesImplementation{"armv8-aes", cpuHasArmv8Aes, encrypt, decrypt};

}  // namespace aes_cbc

#endif
