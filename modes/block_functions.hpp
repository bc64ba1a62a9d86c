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

#include "math/key_schedule.hpp"
#include "modes/key_expansion.hpp"
#include "platform/secure_wipe.hpp"

namespace aes_cbc {
// Internal linkage: each file that includes this compiles it for its own
// instructions, and no other file may call that code.
namespace {  // NOLINT(cert-dcl59-cpp)

template <typename Core>
struct BlockFunctions {
  using Words = std::span<std::uint32_t, roundKeyWords>;
  using ConstWords = std::span<const std::uint32_t, roundKeyWords>;
  using Bytes = std::span<const std::uint8_t, blockBytes>;
  using Output = std::span<std::uint8_t, blockBytes>;
  template <Schedule schedule>
  using RoundKeys = typename Core::template RoundKeys<schedule>;
  // A core that reads its round keys from the words where it uses them
  // (WordKeys) keeps nothing of them in memory; the others convert them
  // into their round keys, which are wiped after the block.
  static constexpr bool readsWords = requires {
    typename Core::template WordKeys<Schedule::encryption>;
  };

  template <Schedule schedule>
  AES_CBC_CORE_ENTRY static void keySetup(Words words, Bytes key) noexcept {
    if constexpr (requires { Core::template setupWords<schedule>(key.data(), words.data()); }) {
      Core::template setupWords<schedule>(key.data(), words.data());
    } else {
      expandKeyToWords<Core, schedule>(key.data(), words.data());
    }
  }

  AES_CBC_CORE_ENTRY static void encrypt(ConstWords words, Bytes input, Output output) noexcept {
    if constexpr (readsWords) {
      encryptWith(typename Core::template WordKeys<Schedule::encryption>{words.data()}, input,
                  output);
    } else {
      RoundKeys<Schedule::encryption> roundKeys;
      Core::template loadWords<Schedule::encryption>(words.data(), roundKeys);
      encryptWith(roundKeys, input, output);
      secureWipe(roundKeys);
    }
  }

  AES_CBC_CORE_ENTRY static void decrypt(ConstWords words, Bytes input, Output output) noexcept {
    if constexpr (readsWords) {
      decryptWith(typename Core::template WordKeys<Schedule::decryption>{words.data()}, input,
                  output);
    } else {
      RoundKeys<Schedule::decryption> roundKeys;
      Core::template loadWords<Schedule::decryption>(words.data(), roundKeys);
      decryptWith(roundKeys, input, output);
      secureWipe(roundKeys);
    }
  }

 private:
  // A core may take a block from bytes to bytes itself (encryptBytes,
  // decryptBytes), where going through its Block would cost copies.
  template <typename Keys>
  AES_CBC_CORE_INLINE static void encryptWith(const Keys& roundKeys, Bytes input, Output output) {
    if constexpr (requires { Core::encryptBytes(roundKeys, input.data(), output.data()); }) {
      Core::encryptBytes(roundKeys, input.data(), output.data());
    } else {
      Core::store(output.data(), Core::encrypt(roundKeys, Core::load(input.data())));
    }
  }

  // One lane of one block: a core whose lanes hold several blocks decrypts
  // it in a buffer of a lane.
  template <typename Keys>
  AES_CBC_CORE_INLINE static void decryptWith(const Keys& roundKeys, Bytes input, Output output) {
    typename Core::Lane lane[1];
    if constexpr (requires { Core::decryptBytes(roundKeys, input.data(), output.data()); }) {
      Core::decryptBytes(roundKeys, input.data(), output.data());
    } else if constexpr (Core::blocksPerLane == 1) {
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
