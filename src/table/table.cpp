// CBC over the table-driven block cipher (table/table_cipher.hpp): the
// portable implementation, which runs on every CPU, and the only one of the
// table-only library. Its lookups are indexed by key and data.
#include "modes/implementation.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "table/table_cipher.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage): plain C++, for every CPU
#define AES128_CORE_ENTRY
#define AES128_CORE_INLINE inline
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "modes/block_core.hpp"
#include "modes/implementation_of.hpp"
#include "modes/key_expansion.hpp"

namespace aes128 {
namespace {

// A block is its 16 bytes: the rounds take them into four big-endian words
// and back, so that between blocks the mode holds its chaining value as two
// machine words, and the rounds have the registers to themselves.
struct TableCore {
  // The round keys are the block functions' words as they stand, which the
  // block functions use where they are.
  template <Schedule>
  using RoundKeys = std::uint32_t[roundKeyWords];
  struct Words {
    const std::uint32_t* words;
  };
  template <Schedule>
  using WordKeys = Words;
  using Block = std::array<std::uint8_t, blockBytes>;
  using Lane = Block;
  static constexpr std::size_t blocksPerLane = 1;
  static constexpr bool lanesInRegisters = false;
  static constexpr std::size_t lanes = 1;
  static constexpr bool unrollEncryption = false;
  // The rounds take bytes (table/table_cipher.hpp); InvMixColumns by the
  // tables.
  static constexpr CoreHooks hooks{
      .invMixColumns = true, .encryptBytes = true, .decryptBytes = true};

  static Block load(const std::uint8_t* bytes) {
    Block block;
    std::memcpy(block.data(), bytes, block.size());
    return block;
  }
  static void store(std::uint8_t* bytes, const Block& block) {
    std::memcpy(bytes, block.data(), block.size());
  }
  static Block bitwiseXor(const Block& a, const Block& b) {
    Block sum;
    for (std::size_t half = 0; half < blockBytes; half += 8) {
      std::uint64_t x = 0;
      std::uint64_t y = 0;
      std::memcpy(&x, a.data() + half, 8);
      std::memcpy(&y, b.data() + half, 8);
      x ^= y;
      std::memcpy(sum.data() + half, &x, 8);
    }
    return sum;
  }

  // --- Key expansion, a round key at a time (modes/key_expansion.hpp) -----
  // Always inlined, so that the whole expansion is written out: no loop
  // counter, each round constant an immediate, the key in registers
  // throughout, and each round key stored straight to its place in either
  // schedule, through InvMixColumns by the tables where that has it.

  using Key = State;
  AES128_ALWAYS_INLINE static Key loadKey(const std::uint8_t* bytes) { return loadState(bytes); }
  template <std::size_t step>
  AES128_ALWAYS_INLINE static Key nextRoundKey(Key key) {
    expansionStep<step>(key);
    return key;
  }
  AES128_ALWAYS_INLINE static void storeWords(std::uint32_t* words, const Key& key) {
    storeRoundKey(key, words);
  }
  AES128_ALWAYS_INLINE static Key invMixColumns(const Key& key) {
    return {invMixColumnByTables(key[0]), invMixColumnByTables(key[1]),
            invMixColumnByTables(key[2]), invMixColumnByTables(key[3])};
  }

  // Not roundKey<r> (modes/block_core.hpp): the rounds (table/table_cipher.hpp)
  // take a schedule as one array of words, round key r at word 4r.
  static const std::uint32_t* wordsOf(const Words& keys) { return readAgain(keys).words; }
  static const std::uint32_t* wordsOf(const RoundKeys<Schedule::encryption>& keys) {
    return &readAgain(keys)[0];
  }

  // Flattened: the expansion's steps, called from the mode and the image
  // alike, would otherwise stay a function of their own, the round-key
  // pointer passed to it through memory.
  template <Schedule schedule>
  [[gnu::flatten]] static void expandKey(const std::uint8_t* key, RoundKeys<schedule>& roundKeys) {
    expandKeyToWords<TableCore, schedule>(key, roundKeys);
  }

  // Bytes to bytes, input and output possibly the same.
  template <typename Keys>
  static void encryptBytes(const Keys& roundKeys, const std::uint8_t* input, std::uint8_t* output) {
    cipherBlock<encryptionDirection>(wordsOf(roundKeys), input, output);
  }
  template <typename Keys>
  static void decryptBytes(const Keys& roundKeys, const std::uint8_t* input, std::uint8_t* output) {
    cipherBlock<decryptionDirection>(wordsOf(roundKeys), input, output);
  }

  template <typename Keys>
  static Block encrypt(const Keys& roundKeys, const Block& block) {
    Block out;
    encryptBytes(roundKeys, block.data(), out.data());
    return out;
  }
  // One block at a time: the lookups leave nothing to overlap.
  template <std::size_t n, typename Keys>
  static void encrypt(const Keys& roundKeys, Block (&state)[n]) {
    for (Block& lane : state) {
      encryptBytes(roundKeys, lane.data(), lane.data());
    }
  }
  template <std::size_t n, typename Keys>
  static void decrypt(const Keys& roundKeys, Block (&state)[n]) {
    for (Block& lane : state) {
      decryptBytes(roundKeys, lane.data(), lane.data());
    }
  }
};

}  // namespace

extern constinit const Implementation tableImplementation =
    implementationOf<TableCore>("table", anyCpu);

}  // namespace aes128
