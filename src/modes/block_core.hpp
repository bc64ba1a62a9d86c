// What a block core is: one implementation's AES-128 on whole blocks, with
// nothing of any mode, stated as the concept BlockCore below. The modes
// (modes/cbc_mode.hpp, modes/block_functions.hpp, modes/many_blocks.hpp,
// modes/cbc_messages.hpp) are written once over the
// cores; each implementation's file in its family's folder is a core and the
// line that builds its implementation from it (modes/implementation_of.hpp),
// where BlockCore checks it.
//
// A core is a struct of types and static functions, every function compiled
// for the core's instructions (and, where that costs no registers, inlined
// into the entry points that the including file compiles for them).
#pragma once

#ifndef AES128_CORE_INLINE
#error "define AES128_CORE_INLINE before including this file"
#endif

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>

#include "common/key_schedule.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// Round key r of a schedule: the one way the cores read a round key. r is a
// constant, the rounds being written out, so that a core can give each round
// key its round's form. A schedule the core holds is an array, a round key to
// each element; the block functions' WordKeys make round key r from the
// caller's words where it is used, in at<r>().
template <std::size_t r, typename Keys>
AES128_CORE_INLINE auto roundKey(const Keys& keys) -> decltype(keys[r]) {
  return keys[r];
}
template <std::size_t r, typename Keys>
AES128_CORE_INLINE auto roundKey(const Keys& keys) -> decltype(keys.template at<r>()) {
  return keys.template at<r>();
}

}  // namespace

// The hooks a core may give where the generic code would be slower or wrong
// for it, each named in the core's `hooks`, e.g.
//   static constexpr CoreHooks hooks{.invMixColumns = true};
// BlockCore requires a hook exactly where its flag is set and the generic
// code branches on the flag, so that a misspelt hook fails to compile
// instead of leaving the generic code in its place.
struct CoreHooks {
  // place<schedule, r>(roundKeys, key): round key r into its place in the
  // schedule (modes/key_expansion.hpp), where the core holds round keys in a
  // form other than Key; else Key goes there as it is.
  bool place = false;
  // invMixColumns(key): where the core has an instruction or a shortcut for
  // it; else the decryption words of the key set-ups go through arithmetic.
  bool invMixColumns = false;
  // encryptBytes(wordKeys, input, output), decryptBytes(...): one block from
  // bytes to bytes in the block functions, input and output possibly the
  // same, where the core does better than through a Block or a lane.
  bool encryptBytes = false;
  bool decryptBytes = false;
  // fromWords<schedule>(words, roundKeys): a kept key's words into the
  // core's form once for a CBC update call, where the core's round keys are
  // not the block functions' (bit-planes of the cipher's own schedule).
  bool fromWords = false;
  // LaneKeys<schedule>, laneKeysFromWords<schedule>(words, laneKeys): where
  // encrypt<n> and decrypt<n> of independent blocks take round keys in a
  // form of their own (the bitsliced groups' bit-planes, in either
  // direction), that form and the block functions' words into it; else
  // they take RoundKeys.
  bool laneKeys = false;
  // SingleBlockCore: for a core whose lanes hold several blocks, the core of
  // its file that takes single blocks better (the block functions, the
  // blocks that do not fill a lane, one-block update calls).
  bool singleBlockCore = false;
};

template <typename Core, Schedule schedule>
using RoundKeysOf = typename Core::template RoundKeys<schedule>;
template <typename Core, Schedule schedule>
using WordKeysOf = typename Core::template WordKeys<schedule>;

template <typename Core>
concept PlacesRoundKeys = requires(RoundKeysOf<Core, Schedule::encryption>& encryptionKeys,
                                   RoundKeysOf<Core, Schedule::decryption>& decryptionKeys,
                                   typename Core::Key key) {
  Core::template place<Schedule::encryption, 0>(encryptionKeys, key);
  Core::template place<Schedule::decryption, 1>(decryptionKeys, key);
};

template <typename Core>
concept MixesKeyColumns = requires(typename Core::Key key) {
  { Core::invMixColumns(key) } -> std::same_as<typename Core::Key>;
};

template <typename Core>
concept EncryptsBytes = requires(const WordKeysOf<Core, Schedule::encryption>& keys,
                                 const std::uint8_t* input, std::uint8_t* output) {
  Core::encryptBytes(keys, input, output);
};

template <typename Core>
concept DecryptsBytes = requires(const WordKeysOf<Core, Schedule::decryption>& keys,
                                 const std::uint8_t* input, std::uint8_t* output) {
  Core::decryptBytes(keys, input, output);
};

template <typename Core>
concept ConvertsWords = requires(const std::uint32_t* words,
                                 RoundKeysOf<Core, Schedule::encryption>& encryptionKeys,
                                 RoundKeysOf<Core, Schedule::decryption>& decryptionKeys) {
  Core::template fromWords<Schedule::encryption>(words, encryptionKeys);
  Core::template fromWords<Schedule::decryption>(words, decryptionKeys);
};

template <typename Core>
concept HasLaneKeys =
    requires(const std::uint32_t* words,
             typename Core::template LaneKeys<Schedule::encryption>& encryptionKeys,
             typename Core::template LaneKeys<Schedule::decryption>& decryptionKeys) {
  Core::template laneKeysFromWords<Schedule::encryption>(words, encryptionKeys);
  Core::template laneKeysFromWords<Schedule::decryption>(words, decryptionKeys);
};

// The round keys that independent blocks take: LaneKeys where the core has
// a form of its own for them, else its RoundKeys.
template <typename Core, Schedule schedule>
struct LaneKeysOfCore {
  using type = RoundKeysOf<Core, schedule>;
};
template <typename Core, Schedule schedule>
requires(Core::hooks.laneKeys) struct LaneKeysOfCore<Core, schedule> {
  using type = typename Core::template LaneKeys<schedule>;
};
template <typename Core, Schedule schedule>
using LaneKeysOf = typename LaneKeysOfCore<Core, schedule>::type;

template <typename Core>
concept NamesSingleBlockCore = requires {
  typename Core::SingleBlockCore;
};

// Each hook present exactly where its flag is set.
template <typename Core>
concept HooksAsFlagged = (PlacesRoundKeys<Core> == Core::hooks.place) &&
                         (MixesKeyColumns<Core> == Core::hooks.invMixColumns) &&
                         (EncryptsBytes<Core> == Core::hooks.encryptBytes) &&
                         (DecryptsBytes<Core> == Core::hooks.decryptBytes) &&
                         (ConvertsWords<Core> == Core::hooks.fromWords) &&
                         (HasLaneKeys<Core> == Core::hooks.laneKeys) &&
                         (NamesSingleBlockCore<Core> == Core::hooks.singleBlockCore);

// A lane of several blocks, in a register or a group of words: the mode
// loads, stores and chains whole lanes.
template <typename Core>
concept LanesOfSeveralBlocks = requires(const std::uint8_t* bytes, std::uint8_t* output,
                                        typename Core::Block chain, typename Core::Lane lane) {
  { Core::loadLane(bytes) } -> std::same_as<typename Core::Lane>;
  Core::storeLane(output, lane);
  { Core::bitwiseXor(lane, lane) } -> std::same_as<typename Core::Lane>;
  // The lane of the ciphertexts before the blocks of the lane at `bytes`:
  // `chain`, then those blocks but the last.
  { Core::firstPrevious(chain, bytes) } -> std::same_as<typename Core::Lane>;
};

// A lane that is a block, which the mode loads, stores and chains as one.
template <typename Core>
concept LanesOfOneBlock =
    (Core::blocksPerLane == 1) && std::same_as<typename Core::Lane, typename Core::Block> &&
    !LanesOfSeveralBlocks<Core>;

template <typename Core>
concept CoreMembers = requires(const std::uint8_t* bytes, std::uint8_t* output,
                               std::uint32_t* words,
                               RoundKeysOf<Core, Schedule::encryption>& encryptionKeys,
                               RoundKeysOf<Core, Schedule::decryption>& decryptionKeys,
                               typename Core::Key key, typename Core::Block block,
                               typename Core::Lane (&group)[Core::lanes],
                               typename Core::Lane (&lane)[1],
                               const LaneKeysOf<Core, Schedule::encryption>& encryptionLaneKeys,
                               const LaneKeysOf<Core, Schedule::decryption>& decryptionLaneKeys) {
  { Core::hooks } -> std::same_as<const CoreHooks&>;
  // The round keys of either schedule in the core's own form (vectors,
  // bit-planes, words): an array or an aggregate that secureWipe reaches
  // whole. Key expansion of FIPS-197 section 5.2 from the 16 key bytes; for
  // decryption the equivalent inverse cipher's schedule of section 5.3.5, as
  // the core's decryption takes it.
  Core::template expandKey<Schedule::encryption>(bytes, encryptionKeys);
  Core::template expandKey<Schedule::decryption>(bytes, decryptionKeys);
  // The expansion a round key (Key) at a time, modes/key_expansion.hpp,
  // which also gives the block functions' key set-ups their words.
  { Core::loadKey(bytes) } -> std::same_as<typename Core::Key>;
  { Core::template nextRoundKey<0>(key) } -> std::same_as<typename Core::Key>;
  Core::storeWords(words, key);
  // The block functions' round keys, made from the caller's words where
  // each is used, so that nothing of them is kept in memory.
  WordKeysOf<Core, Schedule::encryption>{words};
  WordKeysOf<Core, Schedule::decryption>{words};
  // A block as the core computes on it, and encryption one at a time.
  { Core::load(bytes) } -> std::same_as<typename Core::Block>;
  Core::store(output, block);
  { Core::bitwiseXor(block, block) } -> std::same_as<typename Core::Block>;
  { Core::encrypt(encryptionKeys, block) } -> std::same_as<typename Core::Block>;
  // Whether the encryption loop takes two blocks at a time, where its own
  // instructions weigh.
  { Core::unrollEncryption } -> std::same_as<const bool&>;
  // Independent blocks (CBC decryption's, the many-block functions') in
  // groups of `lanes` lanes in place (as many as keep the core's units
  // busy), then of half as many, down to one; decryption with RoundKeys too.
  { Core::lanes } -> std::same_as<const std::size_t&>;
  { Core::blocksPerLane } -> std::same_as<const std::size_t&>;
  Core::template decrypt<Core::lanes>(decryptionKeys, group);
  Core::template decrypt<1>(decryptionKeys, lane);
  Core::template encrypt<Core::lanes>(encryptionLaneKeys, group);
  Core::template encrypt<1>(encryptionLaneKeys, lane);
  Core::template decrypt<Core::lanes>(decryptionLaneKeys, group);
  // False where lanes are arrays in memory: the mode then wipes them after
  // each group. Memory a core works in besides (bit-planes) it wipes
  // itself, with secureWipe.
  { Core::lanesInRegisters } -> std::same_as<const bool&>;
};

// A lane is a block, unless the core holds several to a register or a
// group of words.
template <typename Core>
concept LaneOperations = LanesOfOneBlock<Core> || LanesOfSeveralBlocks<Core>;

template <typename Core>
concept BlockCore = CoreMembers<Core> && HooksAsFlagged<Core> && LaneOperations<Core> &&
    // The mode's tail halves the lanes down to one.
    (std::has_single_bit(Core::lanes));

// Without its hook, a block of the block functions goes through encrypt, or
// through decrypt as a lane of its own, which they do not wipe.
template <typename Core>
concept EncryptsSingleBlocks = (Core::hooks.encryptBytes) ||
                               requires(const WordKeysOf<Core, Schedule::encryption>& keys,
                                        typename Core::Block block) {
  { Core::encrypt(keys, block) } -> std::same_as<typename Core::Block>;
};

template <typename Core>
concept DecryptsSingleBlocks = (Core::hooks.decryptBytes) ||
                               (LanesOfOneBlock<Core> && Core::lanesInRegisters &&
                                requires(const WordKeysOf<Core, Schedule::decryption>& keys,
                                         typename Core::Lane (&lane)[1]) {
                                  Core::template decrypt<1>(keys, lane);
                                });

// A core that does the block functions (modes/block_functions.hpp) too.
template <typename Core>
concept BlockFunctionsCore =
    BlockCore<Core> && EncryptsSingleBlocks<Core> && DecryptsSingleBlocks<Core>;

// The core that takes single blocks for Core: Core, or the one it names.
template <typename Core>
struct SingleBlockCoreOf {
  using type = Core;
};
template <typename Core>
requires(Core::hooks.singleBlockCore) struct SingleBlockCoreOf<Core> {
  using type = typename Core::SingleBlockCore;
};
template <typename Core>
using SingleBlockCore = typename SingleBlockCoreOf<Core>::type;

// The round keys, through a pointer that an empty assembly statement claims
// to change, so that the compiler reads them from their array where they are
// used. Otherwise it may keep them in registers from the expansion on, or
// copy them elsewhere; with more keys and blocks than registers it then
// stores copies to other stack slots, which the wipe does not reach and which
// cost stores of their own. Inlined into any core's code, it compiles to
// nothing.
template <typename RoundKeys>
[[gnu::always_inline]] inline const RoundKeys& readAgain(const RoundKeys& roundKeys) {
  const RoundKeys* keys = &roundKeys;
#if defined(__GNUC__) || defined(__clang__)
  __asm__ __volatile__("" : "+r"(keys));
#endif
  return *keys;
}

// The supported() test of a core in plain C++.
inline bool anyCpu() noexcept {
  return true;
}

}  // namespace aes128
