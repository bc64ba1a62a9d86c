// The block functions (one block, round keys in the caller's 44 words) over
// any block core (modes/block_core.hpp), written once. The words are
// the documented layout of cipher/rijndael.hpp: FIPS-197's w[0..43] packed
// big-endian for encryption, the equivalent inverse cipher's schedule for
// decryption. The key set-ups compute them through the core's own S-box;
// the block functions take the 44 words as they are, whatever they hold,
// into the core's own form on each call, each round key where it is used,
// so that nothing of them stays in memory. No branch and no address
// depends on key or data.
//
// Where registers are few (32-bit targets), the compilers still spill round
// keys to stack slots that no wipe can name (the test of the wipe found the
// NEON set-up's words and the bitsliced key there): each call then runs in a
// function of its own, and the stack it used is wiped after it, as the CBC
// functions do (modes/cbc_mode.hpp).
//
// Included after AES128_CORE_ENTRY and AES128_CORE_INLINE are defined
// (modes/cbc_mode.hpp).
#pragma once

#if !defined(AES128_CORE_ENTRY) || !defined(AES128_CORE_INLINE)
#error "define AES128_CORE_ENTRY and AES128_CORE_INLINE before including this file"
#endif

#include <cstdint>

#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/key_expansion.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// Where registers are few, as said above, and optimising for size.
inline constexpr bool scrubStackAfterBlockCall = sizeof(void*) < 8 || optimisedForSize;

template <typename Core>
struct BlockFunctions {
  template <Schedule schedule>
  using WordKeys = typename Core::template WordKeys<schedule>;

  // Each entry does its work where it stands or, with `scrub`, calls itself
  // out of line for it and then wipes the stack that call used.
  template <Schedule schedule, bool scrub = scrubStackAfterBlockCall>
  [[gnu::noinline]] AES128_CORE_ENTRY static void keySetup(OutputWords words,
                                                           ConstBytes key) noexcept {
    if constexpr (scrub) {
      keySetup<schedule, false>(words, key);
      scrubStack();
    } else {
      expandKeyToWords<Core, schedule>(key.data(), words.data());
    }
  }

  template <bool scrub = scrubStackAfterBlockCall>
  [[gnu::noinline]] AES128_CORE_ENTRY static void encrypt(ConstWords words, ConstBytes input,
                                                          OutputBytes output) noexcept {
    if constexpr (scrub) {
      encrypt<false>(words, input, output);
      scrubStack();
    } else {
      const WordKeys<Schedule::encryption> roundKeys{words.data()};
      if constexpr (Core::hooks.encryptBytes) {
        Core::encryptBytes(roundKeys, input.data(), output.data());
      } else {
        Core::store(output.data(), Core::encrypt(roundKeys, Core::load(input.data())));
      }
    }
  }

  // One block as a lane of its own.
  template <bool scrub = scrubStackAfterBlockCall>
  [[gnu::noinline]] AES128_CORE_ENTRY static void decrypt(ConstWords words, ConstBytes input,
                                                          OutputBytes output) noexcept {
    if constexpr (scrub) {
      decrypt<false>(words, input, output);
      scrubStack();
    } else {
      const WordKeys<Schedule::decryption> roundKeys{words.data()};
      if constexpr (Core::hooks.decryptBytes) {
        Core::decryptBytes(roundKeys, input.data(), output.data());
      } else {
        typename Core::Lane lane[1] = {Core::load(input.data())};
        Core::template decrypt<1>(roundKeys, lane);
        Core::store(output.data(), lane[0]);
      }
    }
  }
};

}  // namespace
}  // namespace aes128
