// Key expansion (FIPS-197 section 5.2) one round key after another, written
// once for the cores that compute a whole round key at a time. The core
// gives:
//   Key                          a round key in its working form
//   loadKey(bytes)               round key 0, the cipher key
//   nextRoundKey<step>(key)      round key step + 1 from round key step
//   place<schedule, r>(roundKeys, key)
//                                round key r into its place in the schedule
// The including file defines AES_CBC_CORE_INLINE (cbc/shared/cbc_mode.hpp).
#pragma once

#ifndef AES_CBC_CORE_INLINE
#error "define AES_CBC_CORE_INLINE before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <utility>

#include "cbc/shared/key_schedule.hpp"

namespace aes_cbc {
namespace {

template <typename Core, Schedule schedule, typename RoundKeys, std::size_t... step>
AES_CBC_CORE_INLINE void expandKeyByRounds(const std::uint8_t* key, RoundKeys& roundKeys,
                                           std::index_sequence<step...> /*steps*/) {
  typename Core::Key roundKey = Core::loadKey(key);
  Core::template place<schedule, 0>(roundKeys, roundKey);
  ((roundKey = Core::template nextRoundKey<step>(roundKey),
    Core::template place<schedule, step + 1>(roundKeys, roundKey)),
   ...);
}

template <typename Core, Schedule schedule, typename RoundKeys>
AES_CBC_CORE_INLINE void expandKeyByRounds(const std::uint8_t* key, RoundKeys& roundKeys) {
  expandKeyByRounds<Core, schedule>(key, roundKeys, std::make_index_sequence<roundKeyCount - 1>{});
}

}  // namespace
}  // namespace aes_cbc
