// CBC (NIST SP 800-38A section 6.2) in place over the whole blocks of a
// buffer, written once over any block core (modes/block_core.hpp):
// encryption block by block, each waiting for the ciphertext before it;
// decryption in groups of the core's lanes, then the tail in halving groups;
// and the wipe. The one-shot calls expand the key; the update calls take the
// round keys from a kept key's words and carry the chain in the caller's IV.
// No branch and no address depends on key, IV or data, only on the length.
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

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/block_core.hpp"
#include "modes/lane_groups.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// Where registers are few (32-bit targets: eight on x86, sixteen on Arm),
// and with Clang, whose register allocation keeps some of the vector-permute
// expansion's round keys in spill slots, the compilers leave key material
// in stack slots that no wipe can name (the test of the wipe found them).
// There, in builds optimised for size and on Windows x64, the
// implementation's entries are Scrubbed: the call in a function of its own,
// then the stack that function used wiped, more than any call's frames take.
#if defined(__clang__)
inline constexpr bool scrubStackAfterCall = true;
#else
inline constexpr bool scrubStackAfterCall =
    sizeof(void*) < 8 || optimisedForSize || framesHoldCallersVectors;
#endif

template <auto function>
struct Scrubbed;

template <typename Result, typename... Arguments, Result (*function)(Arguments...) noexcept>
struct Scrubbed<function> {
  AES128_CORE_ENTRY static Result call(Arguments... arguments) noexcept {
    if constexpr (std::is_void_v<Result>) {
      function(arguments...);
      scrubStack();
    } else {
      const Result result = function(arguments...);
      scrubStack();
      return result;
    }
  }
};

// The entry of the implementation for `function`, which must not be inlined.
template <auto function>
inline constexpr auto entryOf = scrubStackAfterCall ? Scrubbed<function>::call : function;

template <typename Core>
struct CbcMode {
  using Block = typename Core::Block;
  using Lane = typename Core::Lane;
  static constexpr std::size_t laneBytes = LaneGroups<Core>::laneBytes;

  template <Schedule schedule>
  using RoundKeys = typename Core::template RoundKeys<schedule>;
  template <Schedule schedule>
  using WordKeys = typename Core::template WordKeys<schedule>;
  // Whether the core's round keys are those the block functions' words give,
  // one to an element, so that a kept key's words go into them as they are.
  template <Schedule schedule>
  static constexpr bool holdsWordKeys = requires(RoundKeys<schedule>& roundKeys,
                                                 const WordKeys<schedule>& kept) {
    roundKeys[0] = roundKey<0>(kept);
  };

  [[gnu::noinline]] AES128_CORE_ENTRY static void encrypt(ConstBytes key, ConstBytes iv,
                                                          std::uint8_t* data,
                                                          std::uint32_t length) noexcept {
    RoundKeys<Schedule::encryption> roundKeys;
    Core::template expandKey<Schedule::encryption>(key.data(), roundKeys);
    Block chain = Core::load(iv.data());
    encryptBlocks(roundKeys, chain, data, length / blockBytes);
    // The chain holds only ciphertext, which the caller has anyway.
    secureWipe(roundKeys);
  }

  [[gnu::noinline]] AES128_CORE_ENTRY static void decrypt(ConstBytes key, ConstBytes iv,
                                                          std::uint8_t* data,
                                                          std::uint32_t length) noexcept {
    RoundKeys<Schedule::decryption> roundKeys;
    Core::template expandKey<Schedule::decryption>(key.data(), roundKeys);
    Block chain = Core::load(iv.data());
    decryptBlocks(roundKeys, chain, data, length / blockBytes);
    // The chain holds only ciphertext, which the caller had anyway.
    secureWipe(roundKeys);
  }

  // A piece of a message with a kept key's round keys, the block functions'
  // words: the chain from iv and back. A piece of one block reads each word
  // where it is used, through the core that takes single blocks; longer ones
  // have the words in the core's form once a call, then wiped, where the
  // core has such a form (fromWords where that takes more than reading them).
  template <Schedule schedule>
  [[gnu::noinline]] AES128_CORE_ENTRY static void update(ConstWords words, OutputBytes iv,
                                                         std::uint8_t* data,
                                                         std::uint32_t length) noexcept {
    if constexpr (Core::hooks.fromWords) {
      inCoreForm<schedule>(words.data(), iv, data, length);
    } else if (length < 2 * blockBytes) {
      CbcMode<SingleBlockCore<Core>>::template oneBlock<schedule>(words.data(), iv, data, length);
    } else {
      severalBlocks<schedule>(words.data(), iv, data, length);
    }
  }

  // A function of its own, so that the frame that holds the round keys in
  // the core's form is not the one-block path's.
  template <Schedule schedule>
  [[gnu::noinline]] AES128_CORE_ENTRY static void severalBlocks(const std::uint32_t* words,
                                                                OutputBytes iv, std::uint8_t* data,
                                                                std::uint32_t length) noexcept {
    if constexpr (holdsWordKeys<schedule>) {
      inCoreForm<schedule>(words, iv, data, length);
    } else {
      blocksOfPiece<schedule>(WordKeys<schedule>{words}, iv, data, length);
    }
  }

  // At most one block, its round keys read from the words where they are
  // used.
  template <Schedule schedule>
  AES128_CORE_INLINE static void oneBlock(const std::uint32_t* words, OutputBytes iv,
                                          std::uint8_t* data, std::uint32_t length) {
    if (length < blockBytes) {
      return;
    }
    const WordKeys<schedule> roundKeys{words};
    Block chain = Core::load(iv.data());
    if constexpr (schedule == Schedule::encryption) {
      chain = encryptBlock(roundKeys, chain, data);
    } else {
      decryptGroup<1>(roundKeys, data, chain);
    }
    Core::store(iv.data(), chain);
  }

  // The entries of the implementation.
  static constexpr auto encryptEntry = entryOf<encrypt>;
  static constexpr auto decryptEntry = entryOf<decrypt>;
  static constexpr auto encryptUpdateEntry = entryOf<update<Schedule::encryption>>;
  static constexpr auto decryptUpdateEntry = entryOf<update<Schedule::decryption>>;

  // `blocks` blocks at `data` in place, chained to `chain`, which becomes
  // the last ciphertext block. A core whose lanes hold several blocks takes
  // those that do not fill a lane through the core it names for single
  // blocks (SingleBlockCore), else through a buffer of one lane.
  template <typename Keys>
  [[gnu::always_inline]] AES128_CORE_INLINE static void encryptBlocks(const Keys& roundKeys,
                                                                      Block& chain,
                                                                      std::uint8_t* data,
                                                                      std::size_t blocks) {
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
  }

  template <typename Keys>
  [[gnu::always_inline]] AES128_CORE_INLINE static void decryptBlocks(const Keys& roundKeys,
                                                                      Block& chain,
                                                                      std::uint8_t* data,
                                                                      std::size_t blocks) {
    LaneGroups<Core>::run(Chained<Keys>{roundKeys, chain}, data, data, blocks);
  }

  // A kept key's words into round keys that are WordKeys' values.
  template <typename Kept, typename Keys, std::size_t... r>
  AES128_CORE_INLINE static void copyWordKeys(const Kept& kept, Keys& roundKeys,
                                              std::index_sequence<r...> /*rounds*/) {
    ((roundKeys[r] = roundKey<r>(kept)), ...);
  }

 private:
  // CBC decryption's groups, in place: each chained to the ciphertext
  // before it; blocks short of a lane through the core that takes single
  // blocks, where it is another.
  template <typename Keys>
  struct Chained {
    const Keys& roundKeys;
    Block& chain;
    template <std::size_t n>
    AES128_CORE_INLINE void group(const std::uint8_t* /*input*/, std::uint8_t* data) const {
      decryptGroup<n>(roundKeys, data, chain);
    }
    AES128_CORE_INLINE void single(const std::uint8_t* /*input*/, std::uint8_t* data,
                                   std::size_t blocks) const {
      CbcMode<SingleBlockCore<Core>>::decryptBlocks(roundKeys, chain, data, blocks);
    }
    // The buffer's chain is not the blocks': the last of them is.
    AES128_CORE_INLINE void afterBuffer(Block last) const { chain = last; }
  };

  template <Schedule schedule>
  AES128_CORE_INLINE static void inCoreForm(const std::uint32_t* words, OutputBytes iv,
                                            std::uint8_t* data, std::uint32_t length) {
    RoundKeys<schedule> roundKeys;
    if constexpr (Core::hooks.fromWords) {
      Core::template fromWords<schedule>(words, roundKeys);
    } else {
      copyWordKeys(WordKeys<schedule>{words}, roundKeys, std::make_index_sequence<roundKeyCount>{});
    }
    // Read from the array where used: kept in registers from the
    // conversion on, they were spilt to slots that no wipe reaches.
    blocksOfPiece<schedule>(readAgain(roundKeys), iv, data, length);
    secureWipe(roundKeys);
  }

  template <Schedule schedule, typename Keys>
  [[gnu::always_inline]] AES128_CORE_INLINE static void blocksOfPiece(const Keys& roundKeys,
                                                                      OutputBytes iv,
                                                                      std::uint8_t* data,
                                                                      std::uint32_t length) {
    Block chain = Core::load(iv.data());
    if constexpr (schedule == Schedule::encryption) {
      encryptBlocks(roundKeys, chain, data, length / blockBytes);
    } else {
      decryptBlocks(roundKeys, chain, data, length / blockBytes);
    }
    Core::store(iv.data(), chain);
  }

  // One block in place, chained to `chain`; returns its ciphertext.
  template <typename Keys>
  AES128_CORE_INLINE static Block encryptBlock(const Keys& roundKeys, Block chain,
                                               std::uint8_t* block) {
    chain = Core::encrypt(roundKeys, Core::bitwiseXor(chain, Core::load(block)));
    Core::store(block, chain);
    return chain;
  }

  // n lanes at `group` in place; `chain` is the ciphertext block before them
  // and becomes the last of theirs. The stores go from the last lane down, so
  // that the ciphertext each lane is chained to is still in place when it is
  // read.
  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decryptGroup(const Keys& roundKeys, std::uint8_t* group,
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

  AES128_CORE_INLINE static Lane loadLane(const std::uint8_t* bytes) {
    return LaneGroups<Core>::loadLane(bytes);
  }
  AES128_CORE_INLINE static void storeLane(std::uint8_t* bytes, Lane lane) {
    LaneGroups<Core>::storeLane(bytes, lane);
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
    RoundKeys<schedule> roundKeys;
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
