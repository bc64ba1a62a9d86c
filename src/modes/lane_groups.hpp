// Blocks taken through a core's lanes in groups, written once for every
// mode whose blocks go through the cipher independently of each other (CBC
// decryption, the many-block functions): groups of the core's lanes, the
// lanes left over in groups of half, a quarter ... one lane, and the blocks
// that do not fill a lane through the core that takes single blocks, or a
// buffer of one lane. What a group does is the mode's. No branch and no address depends on anything
// but the block count.
//
// Included after AES128_CORE_ENTRY and AES128_CORE_INLINE are defined
// (modes/cbc_mode.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/block_core.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

template <typename Core>
struct LaneGroups {
  using Lane = typename Core::Lane;
  static constexpr std::size_t laneBytes = Core::blocksPerLane * blockBytes;
  static_assert(Core::lanes > 0 && (Core::lanes & (Core::lanes - 1)) == 0);

  // `blocks` blocks from `input` to `output`, the same buffer or apart:
  // work.template group<n>(in, out) takes n whole lanes at a time.
  // Inlined, not flattened as the plain C++ cores' helpers are: flattened,
  // the bitsliced group was written out twice over, and the tail through the
  // buffer cost a tenth more.
  template <typename Work>
  [[gnu::always_inline]] AES128_CORE_ENTRY inline static void run(const Work& work,
                                                                  const std::uint8_t* input,
                                                                  std::uint8_t* output,
                                                                  std::size_t blocks) {
    const std::size_t laneCount = blocks / Core::blocksPerLane;
    std::size_t lane = 0;
    for (; lane + Core::lanes <= laneCount; lane += Core::lanes) {
      work.template group<Core::lanes>(input + lane * laneBytes, output + lane * laneBytes);
    }
    tail<Core::lanes / 2>(work, input, output, lane, laneCount);
    // Blocks that do not fill a lane: through the core that takes single
    // blocks where that is another (work.single), else through a buffer of
    // one lane, the rest of which is never read back; then
    // work.afterBuffer(the last input block).
    if constexpr (Core::blocksPerLane > 1) {
      const std::size_t rest = blocks - laneCount * Core::blocksPerLane;
      const std::uint8_t* restInput = input + laneCount * laneBytes;
      std::uint8_t* restOutput = output + laneCount * laneBytes;
      if constexpr (!std::is_same_v<SingleBlockCore<Core>, Core>) {
        work.single(restInput, restOutput, rest);
      } else if (rest > 0) {
        const typename Core::Block lastInput = Core::load(restInput + (rest - 1) * blockBytes);
        std::uint8_t buffer[laneBytes] = {};
        std::memcpy(buffer, restInput, rest * blockBytes);
        work.template group<1>(buffer, buffer);
        std::memcpy(restOutput, buffer, rest * blockBytes);
        secureWipe(buffer);
        work.afterBuffer(lastInput);
      }
    }
  }

  // A lane is a block, unless the core holds several blocks to a register.
  AES128_CORE_INLINE static Lane loadLane(const std::uint8_t* bytes) {
    if constexpr (Core::blocksPerLane == 1) {
      return Core::load(bytes);
    } else {
      return Core::loadLane(bytes);
    }
  }
  AES128_CORE_INLINE static void storeLane(std::uint8_t* bytes, Lane lane) {
    if constexpr (Core::blocksPerLane == 1) {
      Core::store(bytes, lane);
    } else {
      Core::storeLane(bytes, lane);
    }
  }

 private:
  // The lanes left after the whole groups, fewer than a group, in groups of
  // n, n / 2 ... 1 lanes: at most one of each.
  template <std::size_t n, typename Work>
  [[gnu::always_inline]] AES128_CORE_ENTRY inline static void tail(const Work& work,
                                                                   const std::uint8_t* input,
                                                                   std::uint8_t* output,
                                                                   std::size_t& lane,
                                                                   std::size_t laneCount) {
    if constexpr (n > 0) {
      if (lane + n <= laneCount) {
        work.template group<n>(input + lane * laneBytes, output + lane * laneBytes);
        lane += n;
      }
      tail<n / 2>(work, input, output, lane, laneCount);
    }
  }
};

}  // namespace
}  // namespace aes128
