// The block functions (one block, round keys in the caller's 44 words) over
// any block core (modes/block_core.hpp), written once. The words are
// the documented layout of cipher/rijndael.hpp: FIPS-197's w[0..43] packed
// big-endian for encryption, the equivalent inverse cipher's schedule for
// decryption. The key set-ups compute them through the core's own S-box;
// the block functions take the 44 words as they are, whatever they hold,
// into the core's own form on each call, and wipe that form before
// returning. No branch and no address depends on key or data.
//
// Included after AES_CBC_CORE_ENTRY and AES_CBC_CORE_INLINE are defined
// (modes/cbc_mode.hpp).
#pragma once

#if !defined(AES_CBC_CORE_ENTRY) || !defined(AES_CBC_CORE_INLINE)
#error "define AES_CBC_CORE_ENTRY and AES_CBC_CORE_INLINE before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "modes/key_expansion.hpp"
#include "math/key_schedule.hpp"
#include "platform/secure_wipe.hpp"

namespace aes_cbc {
namespace {

template <typename Core>
struct BlockFunctions {
  using Words = std::span<std::uint32_t, roundKeyWords>;
  using ConstWords = std::span<const std::uint32_t, roundKeyWords>;
  using Bytes = std::span<const std::uint8_t, blockBytes>;
  using Output = std::span<std::uint8_t, blockBytes>;
  template <Schedule schedule>
  using RoundKeys = typename Core::template RoundKeys<schedule>;

  template <Schedule schedule>
  AES_CBC_CORE_ENTRY static void keySetup(Words words, Bytes key) noexcept {
    if constexpr (Core::roundKeysAreWords) {
      Core::template expandKey<schedule>(key.data(), asRoundKeys<schedule>(words.data()));
    } else {
      expandKeyToWords<Core, schedule>(key.data(), words.data());
    }
  }

  AES_CBC_CORE_ENTRY static void encrypt(ConstWords words, Bytes input, Output output) noexcept {
    if constexpr (Core::roundKeysAreWords) {
      encryptWith(asRoundKeys<Schedule::encryption>(words.data()), input, output);
    } else {
      RoundKeys<Schedule::encryption> roundKeys;
      Core::template loadWords<Schedule::encryption>(words.data(), roundKeys);
      encryptWith(roundKeys, input, output);
      secureWipe(roundKeys);
    }
  }

  AES_CBC_CORE_ENTRY static void decrypt(ConstWords words, Bytes input, Output output) noexcept {
    if constexpr (Core::roundKeysAreWords) {
      decryptWith(asRoundKeys<Schedule::decryption>(words.data()), input, output);
    } else {
      RoundKeys<Schedule::decryption> roundKeys;
      Core::template loadWords<Schedule::decryption>(words.data(), roundKeys);
      decryptWith(roundKeys, input, output);
      secureWipe(roundKeys);
    }
  }

 private:
  // A core whose round keys are the 44 words works on the caller's array.
  template <Schedule schedule, typename Word>
  AES_CBC_CORE_INLINE static auto& asRoundKeys(Word* words) {
    using Array = std::conditional_t<std::is_const_v<Word>, const RoundKeys<schedule>,
                                     RoundKeys<schedule>>;
    return *reinterpret_cast<Array*>(words);
  }

  AES_CBC_CORE_INLINE static void encryptWith(const RoundKeys<Schedule::encryption>& roundKeys,
                                              Bytes input, Output output) {
    Core::store(output.data(), Core::encrypt(roundKeys, Core::load(input.data())));
  }

  // One lane of one block: a core whose lanes hold several blocks decrypts
  // it in a buffer of a lane.
  AES_CBC_CORE_INLINE static void decryptWith(const RoundKeys<Schedule::decryption>& roundKeys,
                                              Bytes input, Output output) {
    typename Core::Lane lane[1];
    if constexpr (Core::blocksPerLane == 1) {
      lane[0] = Core::load(input.data());
      Core::template decrypt<1>(roundKeys, lane);
      Core::store(output.data(), lane[0]);
    } else {
      std::uint8_t buffer[Core::blocksPerLane * blockBytes] = {};
      std::memcpy(buffer, input.data(), blockBytes);
      lane[0] = Core::loadLane(buffer);
      Core::template decrypt<1>(roundKeys, lane);
      Core::storeLane(buffer, lane[0]);
      std::memcpy(output.data(), buffer, blockBytes);
      secureWipe(buffer);
    }
    if constexpr (!Core::lanesInRegisters) {
      secureWipe(lane);
    }
  }
};

}  // namespace
}  // namespace aes_cbc
