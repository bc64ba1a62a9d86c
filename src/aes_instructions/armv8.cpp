// CBC with the AES instructions of the ARMv8 Cryptography Extension, as the
// Arm architecture reference defines them: AESE is AddRoundKey, ShiftRows and
// SubBytes, AESMC MixColumns, AESD AddRoundKey, InvShiftRows and
// InvSubBytes, AESIMC InvMixColumns. No lookup depends on key or data.
//
// The block core below, under the CBC mode of modes/cbc_mode.hpp. Only the
// functions of this file and the headers it includes after the attributes
// are compiled for these instructions, each through its own target
// attribute, with internal linkage (common/build_config.hpp).
#include "modes/implementation.hpp"

#if AES128_ARMV8

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#if defined(__linux__)
#include <sys/auxv.h>
#endif

// NOLINTBEGIN(cppcoreguidelines-macro-usage): attributes
#if defined(__clang__)
#define AES128_CORE_ENTRY __attribute__((target("aes")))
#define AES128_CORE_INLINE __attribute__((target("aes"), always_inline)) inline
#else
// GCC 12's arm_neon.h declares the AES intrinsics under "+crypto" (AES and
// SHA-2), so that is what their callers must be compiled for.
#define AES128_CORE_ENTRY __attribute__((target("+crypto")))
#define AES128_CORE_INLINE __attribute__((target("+crypto"), always_inline)) inline
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "common/key_schedule.hpp"
#include "modes/block_core.hpp"
#include "modes/implementation_of.hpp"
#include "modes/key_expansion.hpp"

namespace aes128 {
namespace {

struct Armv8AesCore {
  template <Schedule>
  using RoundKeys = uint8x16_t[roundKeyCount];
  using Block = uint8x16_t;
  using Key = uint8x16_t;
  using Lane = uint8x16_t;
  static constexpr std::size_t blocksPerLane = 1;
  static constexpr bool lanesInRegisters = true;
  // Blocks that do not depend on each other (decryption's, the many-block
  // functions') go through the rounds eight together, and the processor
  // overlaps their instructions.
  static constexpr std::size_t lanes = 8;
  static constexpr bool unrollEncryption = false;
  // AESIMC.
  static constexpr CoreHooks hooks{.invMixColumns = true};

  AES128_CORE_INLINE static uint8x16_t load(const std::uint8_t* bytes) { return vld1q_u8(bytes); }
  AES128_CORE_INLINE static void store(std::uint8_t* bytes, uint8x16_t block) {
    vst1q_u8(bytes, block);
  }
  AES128_CORE_INLINE static uint8x16_t bitwiseXor(uint8x16_t a, uint8x16_t b) {
    return veorq_u8(a, b);
  }

  // --- Round keys as the block functions' words ------------------------------

  // The words hold a round key's bytes most significant first: on this
  // little-endian target each word's four bytes reversed, one REV32.
  AES128_CORE_INLINE static void storeWords(std::uint32_t* words, uint8x16_t key) {
    vst1q_u8(reinterpret_cast<std::uint8_t*>(words), vrev32q_u8(key));
  }
  AES128_CORE_INLINE static uint8x16_t invMixColumns(uint8x16_t key) { return vaesimcq_u8(key); }

  // The block functions' round keys, read from the words where they are
  // used. Both schedules as they stand: AESD with AESIMC takes the
  // equivalent inverse cipher's round keys.
  template <Schedule>
  struct WordKeys {
    const std::uint32_t* words;
    template <std::size_t r>
    AES128_CORE_INLINE uint8x16_t at() const {
      return vrev32q_u8(vld1q_u8(reinterpret_cast<const std::uint8_t*>(words + 4 * r)));
    }
  };

  // --- Key expansion -------------------------------------------------------

  AES128_CORE_INLINE static uint8x16_t loadKey(const std::uint8_t* bytes) { return load(bytes); }

  // SubWord(RotWord(w)) XOR rcon of FIPS-197 section 5.2, with the word's
  // first byte in its low byte. AESE with a zero key on four copies of the
  // word is SubBytes alone: ShiftRows only moves bytes between equal columns.
  template <std::size_t i>
  AES128_CORE_INLINE static std::uint32_t subRotWord(std::uint32_t word) {
    const uint8x16_t copies = vreinterpretq_u8_u32(vdupq_n_u32(word));
    const std::uint32_t substituted =
        vgetq_lane_u32(vreinterpretq_u32_u8(vaeseq_u8(copies, vdupq_n_u8(0))), 0);
    return ((substituted >> 8) | (substituted << 24)) ^ roundConstant(i);
  }

  // Round key i+1 from round key i, word by word as FIPS-197 writes it.
  template <std::size_t i>
  AES128_CORE_INLINE static uint8x16_t nextRoundKey(uint8x16_t key) {
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

  template <Schedule schedule>
  AES128_CORE_INLINE static void expandKey(const std::uint8_t* key,
                                           RoundKeys<schedule>& roundKeys) {
    expandKeyByRounds<Armv8AesCore, schedule>(key, roundKeys);
  }

  // --- Blocks --------------------------------------------------------------

  // AESE XORs the round key first, so round key r enters round r+1, and the
  // last round key is a plain XOR.
  template <typename Keys, std::size_t... r>
  AES128_CORE_INLINE static uint8x16_t encryptRounds(const Keys& roundKeys, uint8x16_t state,
                                                     std::index_sequence<r...> /*rounds*/) {
    ((state = vaesmcq_u8(vaeseq_u8(state, roundKey<r>(roundKeys)))), ...);
    return state;
  }

  template <typename Keys>
  AES128_CORE_INLINE static uint8x16_t encrypt(const Keys& roundKeys, uint8x16_t state) {
    state = encryptRounds(roundKeys, state, std::make_index_sequence<roundKeyCount - 2>{});
    state = vaeseq_u8(state, roundKey<roundKeyCount - 2>(roundKeys));
    return veorq_u8(state, roundKey<roundKeyCount - 1>(roundKeys));
  }

  // AESE with AESMC, or AESD with AESIMC, on n independent blocks, and the
  // last round's AESE or AESD before the plain XOR.
  template <Schedule schedule>
  AES128_CORE_INLINE static uint8x16_t substitute(uint8x16_t state, uint8x16_t key) {
    return schedule == Schedule::encryption ? vaeseq_u8(state, key) : vaesdq_u8(state, key);
  }
  template <Schedule schedule, std::size_t n>
  AES128_CORE_INLINE static void round(uint8x16_t (&state)[n], uint8x16_t key) {
#pragma GCC unroll 8
    for (uint8x16_t& lane : state) {
      lane = schedule == Schedule::encryption ? vaesmcq_u8(substitute<schedule>(lane, key))
                                              : vaesimcq_u8(substitute<schedule>(lane, key));
    }
  }

  template <Schedule schedule, std::size_t n, typename Keys, std::size_t... r>
  AES128_CORE_INLINE static void rounds(const Keys& roundKeys, uint8x16_t (&state)[n],
                                        std::index_sequence<r...> /*rounds*/) {
    (round<schedule>(state, roundKey<r>(roundKeys)), ...);
  }

  // n independent blocks through the cipher or the inverse cipher together,
  // so that the processor overlaps their instructions.
  template <Schedule schedule, std::size_t n, typename Keys>
  AES128_CORE_INLINE static void throughRounds(const Keys& roundKeys, uint8x16_t (&state)[n]) {
    rounds<schedule>(roundKeys, state, std::make_index_sequence<roundKeyCount - 2>{});
#pragma GCC unroll 8
    for (uint8x16_t& lane : state) {
      lane = veorq_u8(substitute<schedule>(lane, roundKey<roundKeyCount - 2>(roundKeys)),
                      roundKey<roundKeyCount - 1>(roundKeys));
    }
  }

  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void encrypt(const Keys& roundKeys, uint8x16_t (&state)[n]) {
    throughRounds<Schedule::encryption>(roundKeys, state);
  }

  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decrypt(const Keys& roundKeys, uint8x16_t (&state)[n]) {
    throughRounds<Schedule::decryption>(roundKeys, state);
  }
};

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

extern constinit const Implementation armv8AesImplementation =
    implementationOf<Armv8AesCore>("armv8-aes", cpuHasArmv8Aes);

}  // namespace aes128

#endif
