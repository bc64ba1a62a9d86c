// CBC (NIST SP 800-38A section 6.2) in place over the whole blocks of a
// buffer, written once over any block core (modes/block_core.hpp):
// encryption block by block, each waiting for the ciphertext before it;
// decryption in groups of the core's lanes, then the tail in halving groups;
// and the wipe. No branch and no address depends on key, IV or data, only on
// the length.
//
// Wipe policy: every call wipes, with stores the optimiser cannot drop, the
// round keys in the core's form (vector stores for vectors), the lanes of
// cores whose lanes are arrays in memory after each group, and the buffer of
// the last blocks: all that held key material, or plaintext before or after
// the chaining. A core that works in memory of its own besides (bitsliced
// planes) wipes it the same way before returning. What stays in registers is
// beyond reach; what the compiler spills of them is wiped with the stack the
// call used where registers are few (scrubStackAfterCall), and the test of
// the wipe looks for it everywhere.
//
// The including file defines AES128_CORE_ENTRY, the attributes of the
// entry points (the core's target instructions), and AES128_CORE_INLINE,
// the same with inlining, before including this file; so nothing here is
// compiled for other instructions than the including file's.
#pragma once

#if !defined(AES128_CORE_ENTRY) || !defined(AES128_CORE_INLINE)
#error "define AES128_CORE_ENTRY and AES128_CORE_INLINE before including this file"
#endif
#ifndef AES128_CORE_GROUP
#define AES128_CORE_GROUP AES128_CORE_INLINE  // NOLINT(cppcoreguidelines-macro-usage)
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/block_core.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// Where registers are few (32-bit targets: eight on x86, sixteen on Arm),
// and with Clang, whose register allocation keeps some of the vector-permute
// expansion's round keys in spill slots, the compilers leave key material
// in stack slots that no wipe can name (the test of the wipe found them).
// There the implementation's entries are encryptThenScrub and
// decryptThenScrub: the call in a function of its own, then the stack that
// function used wiped, more than any call's frames take.
#if defined(__clang__)
inline constexpr bool scrubStackAfterCall = true;
#else
inline constexpr bool scrubStackAfterCall = sizeof(void*) < 8;
#endif
inline constexpr std::size_t scrubbedStackBytes = 4096;

[[gnu::noinline]] inline void scrubStack() noexcept {
  std::uint8_t area[scrubbedStackBytes];
  secureWipe(area);
}

template <typename Core>
struct CbcMode {
  using Block = typename Core::Block;
  using Lane = typename Core::Lane;
  static constexpr std::size_t laneBytes = Core::blocksPerLane * blockBytes;
  static_assert(Core::lanes > 0 && (Core::lanes & (Core::lanes - 1)) == 0);

  [[gnu::noinline]] AES128_CORE_ENTRY static void encrypt(ConstBytes key, ConstBytes iv,
                                                          std::uint8_t* data,
                                                          std::uint32_t length) noexcept {
    typename Core::template RoundKeys<Schedule::encryption> roundKeys;
    Core::template expandKey<Schedule::encryption>(key.data(), roundKeys);
    Block chain = Core::load(iv.data());
    const std::size_t blocks = length / blockBytes;
    // Two loops, not one: the unroll count must be a literal (GCC 12 fails on
    // a constant of the core's).
    if constexpr (Core::unrollEncryption) {
#pragma GCC unroll 2
      for (std::size_t b = 0; b < blocks; ++b) {
        chain = encryptBlock(roundKeys, chain, data + b * blockBytes);
      }
    } else {
      for (std::size_t b = 0; b < blocks; ++b) {
        chain = encryptBlock(roundKeys, chain, data + b * blockBytes);
      }
    }
    // The chain holds only ciphertext, which the caller has anyway.
    secureWipe(roundKeys);
  }

  [[gnu::noinline]] AES128_CORE_ENTRY static void decrypt(ConstBytes key, ConstBytes iv,
                                                          std::uint8_t* data,
                                                          std::uint32_t length) noexcept {
    typename Core::template RoundKeys<Schedule::decryption> roundKeys;
    Core::template expandKey<Schedule::decryption>(key.data(), roundKeys);
    Block chain = Core::load(iv.data());
    const std::size_t blocks = length / blockBytes;
    const std::size_t laneCount = blocks / Core::blocksPerLane;
    std::size_t lane = 0;
    for (; lane + Core::lanes <= laneCount; lane += Core::lanes) {
      decryptGroup<Core::lanes>(roundKeys, data + lane * laneBytes, chain);
    }
    decryptTail<Core::lanes / 2>(roundKeys, data, lane, laneCount, chain);
    // Blocks that do not fill a lane: through a buffer of one, the rest of
    // which is never read back.
    if constexpr (Core::blocksPerLane > 1) {
      const std::size_t rest = (blocks - laneCount * Core::blocksPerLane) * blockBytes;
      if (rest > 0) {
        std::uint8_t* tail = data + laneCount * laneBytes;
        std::uint8_t buffer[laneBytes] = {};
        std::memcpy(buffer, tail, rest);
        decryptGroup<1>(roundKeys, buffer, chain);
        std::memcpy(tail, buffer, rest);
        secureWipe(buffer);
      }
    }
    // The chain holds only ciphertext, which the caller had anyway.
    secureWipe(roundKeys);
  }

  AES128_CORE_ENTRY static void encryptThenScrub(ConstBytes key, ConstBytes iv, std::uint8_t* data,
                                                 std::uint32_t length) noexcept {
    encrypt(key, iv, data, length);
    scrubStack();
  }

  AES128_CORE_ENTRY static void decryptThenScrub(ConstBytes key, ConstBytes iv, std::uint8_t* data,
                                                 std::uint32_t length) noexcept {
    decrypt(key, iv, data, length);
    scrubStack();
  }

  // The entries of the implementation.
  static constexpr auto encryptEntry = scrubStackAfterCall ? encryptThenScrub : encrypt;
  static constexpr auto decryptEntry = scrubStackAfterCall ? decryptThenScrub : decrypt;

 private:
  // One block in place, chained to `chain`; returns its ciphertext.
  AES128_CORE_INLINE static Block encryptBlock(
      const typename Core::template RoundKeys<Schedule::encryption>& roundKeys, Block chain,
      std::uint8_t* block) {
    chain = Core::encrypt(roundKeys, Core::bitwiseXor(chain, Core::load(block)));
    Core::store(block, chain);
    return chain;
  }

  // The lanes left after the whole groups, fewer than a group, in groups of
  // n, n / 2 ... 1 lanes: at most one of each.
  template <std::size_t n>
  AES128_CORE_INLINE static void decryptTail(
      const typename Core::template RoundKeys<Schedule::decryption>& roundKeys, std::uint8_t* data,
      std::size_t& lane, std::size_t laneCount, Block& chain) {
    if constexpr (n > 0) {
      if (lane + n <= laneCount) {
        decryptGroup<n>(roundKeys, data + lane * laneBytes, chain);
        lane += n;
      }
      decryptTail<n / 2>(roundKeys, data, lane, laneCount, chain);
    }
  }

  // n lanes at `group` in place; `chain` is the ciphertext block before them
  // and becomes the last of theirs. The stores go from the last lane down, so
  // that the ciphertext each lane is chained to is still in place when it is
  // read.
  template <std::size_t n>
  AES128_CORE_GROUP static void decryptGroup(
      const typename Core::template RoundKeys<Schedule::decryption>& roundKeys, std::uint8_t* group,
      Block& chain) {
    Lane state[n];
#pragma GCC unroll 16
    for (std::size_t i = 0; i < n; ++i) {
      state[i] = loadLane(group + i * laneBytes);
    }
    const Block nextChain = Core::load(group + n * laneBytes - blockBytes);
    Core::template decrypt<n>(roundKeys, state);
#pragma GCC unroll 16
    for (std::size_t i = n - 1; i > 0; --i) {
      std::uint8_t* at = group + i * laneBytes;
      storeLane(at, Core::bitwiseXor(state[i], loadLane(at - blockBytes)));
    }
    storeLane(group, Core::bitwiseXor(state[0], firstPrevious(chain, group)));
    chain = nextChain;
    // Lanes in memory held the plaintext before the chaining.
    if constexpr (!Core::lanesInRegisters) {
      secureWipe(state);
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
  // The ciphertexts the first lane's blocks are chained to: `chain`, then the
  // blocks of the lane but its last.
  AES128_CORE_INLINE static Lane firstPrevious(Block chain, const std::uint8_t* group) {
    if constexpr (Core::blocksPerLane == 1) {
      return chain;
    } else {
      return Core::firstPrevious(chain, group);
    }
  }

 public:
  // For the test that looks for what a call left behind: the round keys of
  // `key` as the core holds them in memory, as bytes. Returns their count,
  // or 0 if `image` is too small.
  AES128_CORE_ENTRY static std::size_t roundKeyImage(ConstBytes key, Schedule schedule,
                                                     std::span<std::uint8_t> image) noexcept {
    return schedule == Schedule::encryption ? imageOf<Schedule::encryption>(key, image)
                                            : imageOf<Schedule::decryption>(key, image);
  }

 private:
  template <Schedule schedule>
  AES128_CORE_INLINE static std::size_t imageOf(ConstBytes key, std::span<std::uint8_t> image) {
    typename Core::template RoundKeys<schedule> roundKeys;
    if (image.size() < sizeof roundKeys) {
      return 0;
    }
    Core::template expandKey<schedule>(key.data(), roundKeys);
    std::memcpy(image.data(), &roundKeys, sizeof roundKeys);
    secureWipe(roundKeys);
    return sizeof roundKeys;
  }
};

}  // namespace
}  // namespace aes128
