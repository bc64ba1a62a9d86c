// The many-block functions (cipher/rijndael.hpp: every whole block of a
// buffer through the cipher on its own, round keys in the caller's 44
// words) over any block core (modes/block_core.hpp), written once: the
// words into the round keys of the core's lanes once a call, the blocks in
// groups of the core's lanes (modes/lane_groups.hpp), then the round keys
// wiped, as the CBC functions wipe theirs. No branch and no address depends
// on key or data, only on the length.
//
// Included after AES128_CORE_ENTRY and AES128_CORE_INLINE are defined
// (modes/cbc_mode.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/block_core.hpp"
#include "modes/cbc_mode.hpp"
#include "modes/lane_groups.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// On AArch64, GCC keeps a round key of the vector permutes' groups in a
// stack slot that no wipe can name (the test of the wipe found it); there
// the entries wipe the stack they used, as where registers are few.
#if defined(__aarch64__)
inline constexpr bool scrubStackAfterManyBlocks = true;
#else
inline constexpr bool scrubStackAfterManyBlocks = scrubStackAfterCall;
#endif

template <typename Core>
struct ManyBlocks {
  template <Schedule schedule>
  using LaneKeys = LaneKeysOf<Core, schedule>;
  template <Schedule schedule>
  using WordKeys = typename Core::template WordKeys<schedule>;

  template <Schedule schedule>
  [[gnu::noinline]] AES128_CORE_ENTRY static void blocks(ConstWords words,
                                                         const std::uint8_t* input,
                                                         std::uint8_t* output,
                                                         std::uint32_t length) noexcept {
    if constexpr (readsWordsInPlace<schedule>) {
      const WordKeys<schedule> kept{words.data()};
      LaneGroups<Core>::run(transform<schedule>(kept), input, output, length / blockBytes);
    } else {
      LaneKeys<schedule> roundKeys;
      fromWords<schedule>(words.data(), roundKeys);
      // Read from the array where used, not kept in registers from the
      // conversion on and spilt where no wipe reaches.
      LaneGroups<Core>::run(transform<schedule>(readAgain(roundKeys)), input, output,
                            length / blockBytes);
      secureWipe(roundKeys);
    }
  }

  // The entries of the implementation.
  template <Schedule schedule>
  static constexpr auto entry =
      scrubStackAfterManyBlocks ? Scrubbed<blocks<schedule>>::call : blocks<schedule>;

  // A core whose round keys are the words (the table-driven one) reads them
  // as they stand.
  template <Schedule schedule>
  static constexpr bool readsWordsInPlace = !Core::hooks.laneKeys && !Core::hooks.fromWords &&
                                            !CbcMode<Core>::template holdsWordKeys<schedule>;

  // The words into the lanes' round keys: by the core where it has a way of
  // its own, else each round key as the block functions read it.
  template <Schedule schedule>
  AES128_CORE_INLINE static void fromWords(const std::uint32_t* words,
                                           LaneKeys<schedule>& roundKeys) {
    if constexpr (Core::hooks.laneKeys) {
      Core::template laneKeysFromWords<schedule>(words, roundKeys);
    } else if constexpr (Core::hooks.fromWords) {
      Core::template fromWords<schedule>(words, roundKeys);
    } else {
      CbcMode<Core>::copyWordKeys(WordKeys<schedule>{words}, roundKeys,
                                  std::make_index_sequence<roundKeyCount>{});
    }
  }

 private:
  template <typename>
  friend struct ManyBlocks;

  // n lanes from `input` through the cipher to `output`.
  template <Schedule schedule, typename Keys>
  struct Transform {
    const Keys& roundKeys;
    template <std::size_t n>
    AES128_CORE_INLINE void group(const std::uint8_t* input, std::uint8_t* output) const {
      typename Core::Lane state[n];
#pragma GCC unroll 16
      for (std::size_t i = 0; i < n; ++i) {
        state[i] = LaneGroups<Core>::loadLane(input + i * LaneGroups<Core>::laneBytes);
      }
      if constexpr (schedule == Schedule::encryption) {
        Core::template encrypt<n>(roundKeys, state);
      } else {
        Core::template decrypt<n>(roundKeys, state);
      }
#pragma GCC unroll 16
      for (std::size_t i = 0; i < n; ++i) {
        LaneGroups<Core>::storeLane(output + i * LaneGroups<Core>::laneBytes, state[i]);
      }
      // Lanes in memory held plaintext.
      if constexpr (!Core::lanesInRegisters) {
        secureWipe(state);
      }
    }
    AES128_CORE_INLINE void afterBuffer(typename Core::Block /*last*/) const {}
    // Blocks short of a lane, through the core that takes single blocks.
    AES128_CORE_INLINE void single(const std::uint8_t* input, std::uint8_t* output,
                                   std::size_t blocks) const {
      using Single = SingleBlockCore<Core>;
      LaneGroups<Single>::run(ManyBlocks<Single>::template transform<schedule>(roundKeys), input,
                              output, blocks);
    }
  };
  // Keys deduced: GCC warns of the vector attributes of an array of vectors
  // named as a template argument.
  template <Schedule schedule, typename Keys>
  AES128_CORE_INLINE static Transform<schedule, Keys> transform(const Keys& roundKeys) {
    return {roundKeys};
  }
};

}  // namespace
}  // namespace aes128
