// CBC with a bitsliced AES-128 in plain C++: no tables and no instructions
// of a particular CPU, so it runs on every target, and constant-time by
// construction. The state is held as bit-planes (plane i: bit i of every
// byte), SubBytes is a Boolean circuit applied to whole planes, and ShiftRows
// and MixColumns are rotations, masks and XORs of them. The instructions are
// the same whatever the key and data: no branch and no memory address depends
// on them, in the key expansion (SubWord goes through the same circuit), the
// packing into planes and back, the chaining and the loop over blocks, whose
// count depends on the length alone.
//
// ShiftRows is never carried out: the state's bytes stay where the skipped
// ShiftRows leave them, four variants of MixColumns take the rounds in turn
// and the round keys are stored in the same coordinates, the "fixslicing" of
// A. Adomnicai and T. Peyrin ("Fixslicing AES-like Ciphers", TCHES 2021
// issue 1). The bit layout is in bitsliced/layout.hpp, the column mixes on
// it in bitsliced/linear_layer.hpp and the packing into planes in
// bitsliced/packing.hpp; the S-box circuits in bitsliced/circuits.hpp, their
// gates in bitsliced/sbox_gates.hpp, which tools/sbox_circuits.py derives
// and writes. Here: the block core (key
// expansion, encryption of a block, decryption of a group or of a single
// block), under the modes of modes/.
#include "modes/implementation.hpp"

#if AES128_BITSLICED

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

// NOLINTBEGIN(cppcoreguidelines-macro-usage): plain C++, for every CPU
#define AES128_CORE_ENTRY
#define AES128_CORE_INLINE [[gnu::flatten]] inline
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "bitsliced/circuits.hpp"
#include "bitsliced/layout.hpp"
#include "bitsliced/linear_layer.hpp"
#include "bitsliced/packing.hpp"
#include "common/key_schedule.hpp"
#include "common/secure_wipe.hpp"
#include "modes/block_core.hpp"
#include "modes/implementation_of.hpp"
#include "modes/key_expansion.hpp"

namespace aes128::bitsliced {
namespace {

// ---------------------------------------------------------------------------
// The block core. Key expansion (FIPS-197 section 5.2) on a one-block state;
// encryption one block at a time, in one-block states; decryption a group
// of groupBlocks blocks at a time, one to each bit of a slot.

// `byte` in every column of the rows whose bit is set in `rows`.
template <typename Word>
constexpr Block<Word> inEveryColumn(unsigned byte, unsigned rows = 0xf) {
  constexpr unsigned p = blockPlanesPerWord<Word>;
  Block<Word> state{};
  for (unsigned plane = 0; plane < 8; ++plane) {
    if (((byte >> plane) & 1U) != 0) {
      state[plane / p] |= slotBits<Word>(
          [rows](unsigned row, unsigned) { return ((rows >> row) & 1U) != 0; }, plane % p);
    }
  }
  return state;
}

// The four bytes of a word in reverse order.
constexpr std::uint32_t byteSwapped(std::uint32_t word) {
  return (word >> 24) | ((word >> 8) & 0xff00U) | ((word << 8) & 0xff0000U) | (word << 24);
}

template <typename Word>
using Group = Words<Word, groupBlocks<Word>>;

template <typename Word>
struct BitslicedCore {
  template <Schedule schedule>
  using RoundKeys =
      std::conditional_t<schedule == Schedule::encryption, std::array<Block<Word>, roundKeyCount>,
                         std::array<Planes<Word>, roundKeyCount>>;
  // The round keys of groups, in either direction: the cipher's own, each
  // in every block of a group (decryption's RoundKeys).
  template <Schedule>
  using LaneKeys = std::array<Planes<Word>, roundKeyCount>;
  using Block = bitsliced::Block<Word>;
  using Key = Block;
  // A group is the core's lane, and it goes through the cipher one at a
  // time.
  using Lane = Group<Word>;
  static constexpr std::size_t blocksPerLane = groupBlocks<Word>;
  static constexpr std::size_t lanes = 1;
  static constexpr bool lanesInRegisters = false;
  static constexpr bool unrollEncryption = false;
  // Round keys go into the coordinates of their rounds as they are placed; a
  // single block decrypts in a one-block state, not as a group.
  static constexpr CoreHooks hooks{
      .place = true, .decryptBytes = true, .fromWords = true, .laneKeys = true};

  static Block load(const std::uint8_t* bytes) { return bitsliced::load<Word, 1>(bytes); }
  static void store(std::uint8_t* bytes, const Block& block) {
    bitsliced::store<Word, 1>(bytes, block);
  }
  // Blocks and lanes alike.
  template <std::size_t n>
  static State<Word, n> bitwiseXor(State<Word, n> a, const State<Word, n>& b) {
    xorInto(a, b);
    return a;
  }
  // Block k of a group from bytes and back, for groups of blocks of
  // different messages.
  static void putBlock(Lane& lane, std::size_t k, const std::uint8_t* bytes) {
#pragma GCC unroll 4
    for (std::size_t q = 0; q < wordsPerBlock<Word>; ++q) {
      lane[q * blocksPerLane + k] = loadLittleEndian<Word>(bytes + q * sizeof(Word));
    }
  }
  static void getBlock(std::uint8_t* bytes, const Lane& lane, std::size_t k) {
#pragma GCC unroll 4
    for (std::size_t q = 0; q < wordsPerBlock<Word>; ++q) {
      storeLittleEndian(bytes + q * sizeof(Word), lane[q * blocksPerLane + k]);
    }
  }
  static Lane loadLane(const std::uint8_t* bytes) {
    return bitsliced::load<Word, blocksPerLane>(bytes);
  }
  static void storeLane(std::uint8_t* bytes, const Lane& lane) {
    bitsliced::store<Word, blocksPerLane>(bytes, lane);
  }
  // A group has word q of block k at q * blocksPerLane + k: `chain` goes to
  // k = 0, and block k - 1 of `group` to k.
  static Lane firstPrevious(const Block& chain, const std::uint8_t* group) {
    Lane previous{};
#pragma GCC unroll 2
    for (std::size_t q = 0; q < chain.size(); ++q) {
      previous[q * blocksPerLane] = chain[q];
#pragma GCC unroll 4
      for (std::size_t k = 1; k < blocksPerLane; ++k) {
        previous[q * blocksPerLane + k] =
            loadLittleEndian<Word>(group + (k - 1) * blockBytes + q * sizeof(Word));
      }
    }
    return previous;
  }

  // --- Key expansion -------------------------------------------------------

  static Key loadKey(const std::uint8_t* bytes) {
    return toState<Word, 1>(load(bytes));
  }

  // Round key `step` + 1 from round key `step`, a whole round key at once:
  // column c is the XOR of columns 0 to c and of SubWord(RotWord(column 3))
  // XOR rcon.
  template <std::size_t step>
  static Key nextRoundKey(Key key) {
    constexpr unsigned width = slotWidth<Word>;
    constexpr Word column0 = slotBits<Word>([](unsigned, unsigned c) { return c == 0; }, 0, width);
    constexpr Word columns23 =
        slotBits<Word>([](unsigned, unsigned c) { return c >= 2; }, 0, width);
    constexpr Word column3 = slotBits<Word>([](unsigned, unsigned c) { return c == 3; }, 0, width);
    // rcon in row 0, and the S-box constant that the circuit leaves out.
    constexpr Block constant = [] {
      Block sum = inEveryColumn<Word>(sboxConstant);
      xorInto(sum, inEveryColumn<Word>(roundConstant(step), 1));
      return sum;
    }();
    const Block substituted = blockOf(subBytes(planesOf(key)));
#pragma GCC unroll 4
    for (std::size_t w = 0; w < key.size(); ++w) {
      // RotWord: row r takes column 3 of row r + 1; then into every column.
      Word spread = rowsDownInWord<1, 0>(substituted[w]) & column3;
      spread |= spread >> width;
      spread |= spread >> (2 * width);
      Word prefix = key[w] ^ ((key[w] << width) & ~column0);
      prefix ^= (prefix << (2 * width)) & columns23;
      key[w] = prefix ^ spread ^ constant[w];
    }
    return key;
  }

  // Round key `round` as the rounds take it: from round 1 on with the S-box
  // constant that the circuits leave out, and in the coordinates of a state
  // that has skipped `round` ShiftRows (ShiftRows applied -round times).
  // Decryption has it in every block of a group.
  template <std::size_t round>
  static Block asUsed(Key key) {
    if constexpr (round > 0) {
      constexpr Block constant = inEveryColumn<Word>(sboxConstant);
      xorInto(key, constant);
    }
    shiftRows<4 - round % 4>(key);
    return key;
  }

  template <Schedule schedule, std::size_t round>
  static void place(RoundKeys<schedule>& roundKeys, Key key) {
    if constexpr (schedule == Schedule::encryption) {
      roundKeys[round] = asUsed<round>(key);
    } else {
      roundKeys[round] = inEveryBlock(asUsed<round>(key));
    }
  }

  // --- Round keys as the block functions' words ------------------------------

  // A block's words hold its bytes little-endian, 32 bits at a time; the
  // block functions' words hold them most significant first.
  static constexpr std::size_t piecesPerWord = sizeof(Word) / 4;

  static void storeWords(std::uint32_t* words, const Key& key) {
    const Block block = fromState<Word, 1>(key);
    for (std::size_t j = 0; j < 4; ++j) {
      words[j] = byteSwapped(
          static_cast<std::uint32_t>(block[j / piecesPerWord] >> (32 * (j % piecesPerWord))));
    }
  }

  static Key keyFromWords(const std::uint32_t* words) {
    Block block{};
    for (std::size_t j = 0; j < 4; ++j) {
      block[j / piecesPerWord] |= Word{byteSwapped(words[j])} << (32 * (j % piecesPerWord));
    }
    return toState<Word, 1>(block);
  }

  // The block functions' round keys, each turned into a one-block round key
  // of round `round` as the rounds take it, where it is used. Single blocks
  // decrypt with the equivalent inverse cipher in one-block states, which
  // takes the decryption words as they stand.
  template <Schedule schedule>
  struct WordKeys {
    const std::uint32_t* words;

    template <std::size_t round>
    Block at() const {
      return asUsed<round>(keyFromWords(words + 4 * placeOf(schedule, round)));
    }
  };

  // A kept key's words in the core's form once for a CBC update call.
  // Decryption groups take the cipher's own round keys, so the equivalent
  // inverse cipher's words of rounds 1 to 9 go back through MixColumns first.
  template <Schedule schedule>
  [[gnu::flatten, gnu::noinline]] static void fromWords(const std::uint32_t* words,
                                                        RoundKeys<schedule>& roundKeys) {
    placeWords<schedule>(words, roundKeys, std::make_index_sequence<roundKeyCount>{});
  }

  // The words of either schedule into the round keys of groups, for the
  // many-block functions and the messages calls.
  template <Schedule schedule>
  [[gnu::flatten, gnu::noinline]] static void laneKeysFromWords(const std::uint32_t* words,
                                                                LaneKeys<schedule>& roundKeys) {
    placeWords<schedule, Schedule::decryption>(words, roundKeys,
                                               std::make_index_sequence<roundKeyCount>{});
  }

  // The round keys of `schedule`'s words, placed as `placement` places them.
  template <Schedule schedule, Schedule placement = schedule, typename Keys, std::size_t... round>
  static void placeWords(const std::uint32_t* words, Keys& roundKeys,
                         std::index_sequence<round...> /*rounds*/) {
    (place<placement, round>(roundKeys, keyOfWords<schedule, round>(words)), ...);
  }

  template <Schedule schedule, std::size_t round>
  static Key keyOfWords(const std::uint32_t* words) {
    const std::uint32_t* at = words + 4 * placeOf(schedule, round);
    if constexpr (throughInvMixColumns(schedule, round)) {
      const std::uint32_t columns[4] = {mixColumn(at[0]), mixColumn(at[1]), mixColumn(at[2]),
                                        mixColumn(at[3])};
      return keyFromWords(columns);
    } else {
      return keyFromWords(at);
    }
  }

  // A function of its own, so that the mode's loops around it keep their
  // registers.
  template <Schedule schedule>
  [[gnu::flatten, gnu::noinline]] static void expandKey(const std::uint8_t* key,
                                                        RoundKeys<schedule>& roundKeys) {
    expandKeyByRounds<BitslicedCore, schedule>(key, roundKeys);
  }

  // A one-block round key copied into every block of a group.
  static Planes<Word> inEveryBlock(const Block& key) {
    Planes<Word> planes = planesOf(key);
#pragma GCC unroll 8
    for (Word& plane : planes) {
      plane &= firstBitOfSlots<Word>;
      for (unsigned shift = 1; shift < slotWidth<Word>; shift *= 2) {
        plane |= plane << shift;
      }
    }
    return planes;
  }

  // --- Encryption ----------------------------------------------------------

  // A round on a one-block state, or on the eight planes of a group.
  template <std::size_t round, typename State>
  static void encryptRound(State& state, const State& key) {
    if constexpr (std::is_same_v<State, Planes<Word>>) {
      state = subBytes(state);
    } else {
      state = blockOf(subBytes(planesOf(state)));
    }
    if constexpr (round < roundKeyCount - 1) {
      mixColumns<round>(state);
    }
    xorInto(state, key);
  }

  template <typename State, typename Keys, std::size_t... r>
  static void encryptRounds(State& state, const Keys& keys, std::index_sequence<r...> /*rounds*/) {
    (encryptRound<r + 1>(state, roundKey<r + 1>(keys)), ...);
  }

  // Everything it calls is compiled into it, and its state is its own, so
  // that the state can stay in registers.
  template <typename Keys>
  [[gnu::flatten]] static Block encrypt(const Keys& keys, const Block& block) {
    Block state = toState<Word, 1>(block);
    xorInto(state, roundKey<0>(keys));
    encryptRounds(state, keys, std::make_index_sequence<roundKeyCount - 1>{});
    Block words = fromState<Word, 1>(state);
    // Ten skipped ShiftRows: two to make up.
    shiftRowsTwice<Word, 1>(words);
    return words;
  }

  // One group of independent blocks, one to each bit of a slot, in place:
  // the rounds of a single block on eight planes. As in encrypt, everything
  // is compiled into it.
  template <std::size_t n>
  [[gnu::flatten]] static void encrypt(const LaneKeys<Schedule::encryption>& keys,
                                       Group<Word> (&groups)[n]) {
    static_assert(n == 1);
    Group<Word>& words = groups[0];
    Planes<Word> planes = toState<Word, blocksPerLane>(words);
    xorInto(planes, roundKey<0>(keys));
    encryptRounds(planes, keys, std::make_index_sequence<roundKeyCount - 1>{});
    words = fromState<Word, blocksPerLane>(planes);
    // Ten skipped ShiftRows: two to make up.
    shiftRowsTwice<Word, blocksPerLane>(words);
    // Memory of the core's own that held the blocks' plaintext.
    secureWipe(planes);
  }

  // --- Decryption ----------------------------------------------------------

  template <std::size_t round>
  static void decryptRound(Planes<Word>& state, const Planes<Word>& key) {
    state = invSubBytes(state);
    xorInto(state, key);
    if constexpr (round > 0) {
      invMixColumns<round>(state);
    }
  }

  template <std::size_t... r>
  static void decryptRounds(Planes<Word>& state, const RoundKeys<Schedule::decryption>& keys,
                            std::index_sequence<r...> /*rounds*/) {
    constexpr std::size_t last = roundKeyCount - 2;
    (decryptRound<last - r>(state, roundKey<last - r>(keys)), ...);
  }

  // Round `round` of the equivalent inverse cipher (FIPS-197 section 5.3.5):
  // InvMixColumns before the round key, which went through it too. Both
  // carry the S-box constant, which InvMixColumns keeps.
  template <std::size_t round>
  static void decryptRoundOfBlock(Block& state, const Block& key) {
    state = blockOf(invSubBytes(planesOf(state)));
    if constexpr (round > 0) {
      invMixColumnsOfBlock<round>(state);
    }
    xorInto(state, key);
  }

  template <std::size_t... r>
  static void decryptRoundsOfBlock(Block& state, const WordKeys<Schedule::decryption>& keys,
                                   std::index_sequence<r...> /*rounds*/) {
    constexpr std::size_t last = roundKeyCount - 2;
    (decryptRoundOfBlock<last - r>(state, roundKey<last - r>(keys)), ...);
  }

  // A single block of the block functions, in a one-block state as
  // encryption has it: a quarter of a group's work. Input and output may be
  // the same.
  [[gnu::flatten]] static void decryptBytes(const WordKeys<Schedule::decryption>& keys,
                                            const std::uint8_t* input, std::uint8_t* output) {
    Block words = load(input);
    // The ciphertext enters in the coordinates of round 10.
    shiftRowsTwice<Word, 1>(words);
    Block state = toState<Word, 1>(words);
    xorInto(state, roundKey<roundKeyCount - 1>(keys));
    decryptRoundsOfBlock(state, keys, std::make_index_sequence<roundKeyCount - 1>{});
    store(output, fromState<Word, 1>(state));
  }

  // One group of blocks, one to each bit of a slot, in place. As in encrypt, everything
  // is compiled into it.
  template <std::size_t n>
  [[gnu::flatten]] static void decrypt(const RoundKeys<Schedule::decryption>& keys,
                                       Group<Word> (&groups)[n]) {
    static_assert(n == 1);
    Group<Word>& words = groups[0];
    // The ciphertext enters in the coordinates of round 10.
    shiftRowsTwice<Word, blocksPerLane>(words);
    Planes<Word> planes = toState<Word, blocksPerLane>(words);
    xorInto(planes, roundKey<roundKeyCount - 1>(keys));
    decryptRounds(planes, keys, std::make_index_sequence<roundKeyCount - 1>{});
    words = fromState<Word, blocksPerLane>(planes);
    // Memory of the core's own that ends with the blocks' plaintext in it.
    secureWipe(planes);
  }
};

// The machine's word: 64 bits where pointers have them.
using MachineWord = std::conditional_t<(sizeof(void*) >= 8), std::uint64_t, std::uint32_t>;

}  // namespace
}  // namespace aes128::bitsliced

namespace aes128 {

extern constinit const Implementation bitslicedImplementation =
    implementationOf<bitsliced::BitslicedCore<bitsliced::MachineWord>>("bitsliced", anyCpu);

}  // namespace aes128

#endif
