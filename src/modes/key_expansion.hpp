// Key expansion (FIPS-197 section 5.2) one round key after another, written
// once for the cores that compute a whole round key at a time: Key, loadKey,
// nextRoundKey and the hooks place and invMixColumns of a block core
// (modes/block_core.hpp).
// The including file defines AES128_CORE_INLINE (modes/cbc_mode.hpp).
#pragma once

#ifndef AES128_CORE_INLINE
#error "define AES128_CORE_INLINE before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/key_schedule.hpp"
#include "modes/block_core.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

template <typename Core, Schedule schedule, std::size_t r, typename RoundKeys>
AES128_CORE_INLINE void place(RoundKeys& roundKeys, typename Core::Key key) {
  if constexpr (Core::hooks.place) {
    Core::template place<schedule, r>(roundKeys, key);
  } else if constexpr (throughInvMixColumns(schedule, r)) {
    roundKeys[placeOf(schedule, r)] = Core::invMixColumns(key);
  } else {
    roundKeys[placeOf(schedule, r)] = key;
  }
}

template <typename Core, Schedule schedule, typename RoundKeys, std::size_t... step>
AES128_CORE_INLINE void expandKeyByRounds(const std::uint8_t* key, RoundKeys& roundKeys,
                                          std::index_sequence<step...> /*steps*/) {
  typename Core::Key roundKey = Core::loadKey(key);
  place<Core, schedule, 0>(roundKeys, roundKey);
  ((roundKey = Core::template nextRoundKey<step>(roundKey),
    place<Core, schedule, step + 1>(roundKeys, roundKey)),
   ...);
}

template <typename Core, Schedule schedule, typename RoundKeys>
AES128_CORE_INLINE void expandKeyByRounds(const std::uint8_t* key, RoundKeys& roundKeys) {
  expandKeyByRounds<Core, schedule>(key, roundKeys, std::make_index_sequence<roundKeyCount - 1>{});
}

// The block functions' schedules: the round keys in the documented word
// layout, for decryption those of the equivalent inverse cipher.
template <typename Core>
struct WordPlacement {
  // Each round key goes to its words here.
  static constexpr CoreHooks hooks{.place = true};
  using Key = typename Core::Key;
  AES128_CORE_INLINE static Key loadKey(const std::uint8_t* bytes) { return Core::loadKey(bytes); }
  template <std::size_t step>
  AES128_CORE_INLINE static Key nextRoundKey(Key key) {
    return Core::template nextRoundKey<step>(key);
  }
  template <Schedule schedule, std::size_t r>
  AES128_CORE_INLINE static void place(std::uint32_t* words, Key key) {
    std::uint32_t* at = words + 4 * placeOf(schedule, r);
    if constexpr (!throughInvMixColumns(schedule, r)) {
      Core::storeWords(at, key);
    } else if constexpr (Core::hooks.invMixColumns) {
      Core::storeWords(at, Core::invMixColumns(key));
    } else {
      Core::storeWords(at, key);
      for (std::size_t c = 0; c < 4; ++c) {
        at[c] = invMixColumn(at[c]);
      }
    }
  }
};

template <typename Core, Schedule schedule>
AES128_CORE_INLINE void expandKeyToWords(const std::uint8_t* key, std::uint32_t* words) {
  expandKeyByRounds<WordPlacement<Core>, schedule>(key, words);
}

}  // namespace
}  // namespace aes128
