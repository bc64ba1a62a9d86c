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
// issue 1). The layout, the column mixes and the packing into planes are in
// cbc/shared/bitsliced_layout.hpp; the S-box circuits in
// cbc/shared/bitsliced_circuits.hpp, their gates in bitsliced_sbox_gates.hpp,
// which tools/sbox_circuits.py derives and writes. Here: the key expansion
// and CBC.
#include "cbc/implementations.hpp"

#if AES_CBC_BITSLICED

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>

#include "cbc/shared/bitsliced_circuits.hpp"
#include "cbc/shared/bitsliced_layout.hpp"
#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"

namespace aes_cbc::bitsliced {
namespace {

// ---------------------------------------------------------------------------
// Key expansion (FIPS-197 section 5.2), on a one-block state.

template <typename Word>
using Schedule = std::array<Block<Word>, roundKeyCount>;

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

constexpr unsigned sboxConstant = 0x63;

// Round key `step` + 1 from round key `step`, a whole round key at once:
// column c is the XOR of columns 0 to c and of SubWord(RotWord(column 3))
// XOR rcon.
template <std::size_t step, typename Word>
void nextRoundKey(Block<Word>& key) {
  constexpr unsigned l = lanes<Word>;
  constexpr Word column0 = slotBits<Word>([](unsigned, unsigned c) { return c == 0; }, 0, l);
  constexpr Word columns23 = slotBits<Word>([](unsigned, unsigned c) { return c >= 2; }, 0, l);
  constexpr Word column3 = slotBits<Word>([](unsigned, unsigned c) { return c == 3; }, 0, l);
  // rcon in row 0, and the S-box constant that the circuit leaves out.
  constexpr Block<Word> constant = [] {
    Block<Word> sum = inEveryColumn<Word>(sboxConstant);
    xorInto(sum, inEveryColumn<Word>(roundConstant(step), 1));
    return sum;
  }();
  const Block<Word> substituted = blockOf(subBytes(planesOf(key)));
#pragma GCC unroll 4
  for (std::size_t w = 0; w < key.size(); ++w) {
    // RotWord: row r takes column 3 of row r + 1; then into every column.
    Word spread = rowsDownInWord<1, 0>(substituted[w]) & column3;
    spread |= spread >> l;
    spread |= spread >> (2 * l);
    Word prefix = key[w] ^ ((key[w] << l) & ~column0);
    prefix ^= (prefix << (2 * l)) & columns23;
    key[w] = prefix ^ spread ^ constant[w];
  }
}

// Round key `round` as the rounds take it: from round 1 on with the S-box
// constant that the circuits leave out, and in the coordinates of a state
// that has skipped `round` ShiftRows (ShiftRows applied -round times).
template <std::size_t round, typename Word>
Block<Word> asUsed(Block<Word> key) {
  if constexpr (round > 0) {
    constexpr Block<Word> constant = inEveryColumn<Word>(sboxConstant);
    xorInto(key, constant);
  }
  shiftRows<4 - round % 4>(key);
  return key;
}

template <typename Word, std::size_t... step>
void expandKey(const std::uint8_t* key, Schedule<Word>& schedule,
               std::index_sequence<step...> /*steps*/) {
  Block<Word> roundKey = toState<Word, 1>(load<Word, 1>(key));
  schedule[0] = asUsed<0>(roundKey);
  ((nextRoundKey<step>(roundKey), schedule[step + 1] = asUsed<step + 1>(roundKey)), ...);
  secure_wipe(roundKey);
}

template <typename Word>
void expandKey(std::span<const std::uint8_t, 16> key, Schedule<Word>& schedule) {
  expandKey(key.data(), schedule, std::make_index_sequence<roundKeyCount - 1>{});
}

// ---------------------------------------------------------------------------
// CBC encryption: one block at a time, one-block states.

template <std::size_t round, typename Word>
void encryptRound(Block<Word>& state, const Block<Word>& key) {
  state = blockOf(subBytes(planesOf(state)));
  if constexpr (round < roundKeyCount - 1) {
    mixColumns<round>(state);
  }
  xorInto(state, key);
}

template <typename Word, std::size_t... r>
void encryptRounds(Block<Word>& state, const Schedule<Word>& keys,
                   std::index_sequence<r...> /*rounds*/) {
  (encryptRound<r + 1>(state, keys[r + 1]), ...);
}

// One block through the cipher, in place, chained to `chain`, which becomes
// its ciphertext. Everything it calls is compiled into it, and its state is
// its own, so that the state can stay in registers.
template <typename Word>
[[gnu::flatten]] void encryptBlock(const Schedule<Word>& keys, std::uint8_t* block,
                                   Block<Word>& chain) {
  Block<Word> words = load<Word, 1>(block);
  xorInto(words, chain);
  Block<Word> state = toState<Word, 1>(words);
  xorInto(state, keys[0]);
  encryptRounds(state, keys, std::make_index_sequence<roundKeyCount - 1>{});
  words = fromState<Word, 1>(state);
  // Ten skipped ShiftRows: two to make up.
  shiftRowsTwice<Word, 1>(words);
  chain = words;
  store<Word, 1>(block, words);
}

template <typename Word>
void encrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
             std::uint8_t* data, std::uint32_t length) noexcept {
  Schedule<Word> keys{};
  expandKey(key, keys);
  Block<Word> chain = load<Word, 1>(iv.data());
  const std::size_t blocks = length / blockBytes;
  for (std::size_t b = 0; b < blocks; ++b) {
    encryptBlock(keys, data + b * blockBytes, chain);
  }
  // The state ends as ciphertext, which the caller has anyway, and so does
  // the chain.
  secure_wipe(keys);
}

// ---------------------------------------------------------------------------
// CBC decryption: blocks are independent, `lanes` at a time.

template <typename Word>
using DecryptionKeys = std::array<Planes<Word>, roundKeyCount>;

// A one-block round key copied into every lane.
template <typename Word>
Planes<Word> inEveryLane(const Block<Word>& key) {
  Planes<Word> planes = planesOf(key);
#pragma GCC unroll 8
  for (Word& plane : planes) {
    plane &= laneZero<Word>;
    for (unsigned shift = 1; shift < lanes<Word>; shift *= 2) {
      plane |= plane << shift;
    }
  }
  return planes;
}

template <std::size_t round, typename Word>
void decryptRound(Planes<Word>& state, const Planes<Word>& key) {
  state = invSubBytes(state);
  xorInto(state, key);
  if constexpr (round > 0) {
    invMixColumns<round>(state);
  }
}

template <typename Word, std::size_t... r>
void decryptRounds(Planes<Word>& state, const DecryptionKeys<Word>& keys,
                   std::index_sequence<r...> /*rounds*/) {
  constexpr std::size_t last = roundKeyCount - 2;
  (decryptRound<last - r>(state, keys[last - r]), ...);
}

template <typename Word>
using Group = Words<Word, lanes<Word>>;

// `lanes` blocks at `group`, in place; `chain` is the ciphertext before them,
// and becomes their last. As in encryptBlock, everything is compiled into
// it and the state is its own.
template <typename Word>
[[gnu::flatten]] void decryptGroup(const DecryptionKeys<Word>& keys, std::uint8_t* group,
                                   std::array<std::uint8_t, blockBytes>& chain) {
  constexpr std::size_t blocks = lanes<Word>;
  Group<Word> words = load<Word, blocks>(group);
  // The ciphertext enters in the coordinates of round 10.
  shiftRowsTwice<Word, blocks>(words);
  Planes<Word> state = toState<Word, blocks>(words);
  xorInto(state, keys[roundKeyCount - 1]);
  decryptRounds(state, keys, std::make_index_sequence<roundKeyCount - 1>{});
  words = fromState<Word, blocks>(state);
  std::array<std::uint8_t, blockBytes> nextChain{};
  const std::uint8_t* last = group + (blocks - 1) * blockBytes;
  std::copy(last, last + blockBytes, nextChain.begin());
  // From the last block down, so that the ciphertext each block is chained to
  // is still in place when it is read.
#pragma GCC unroll 4
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::size_t k = blocks - 1 - i;
    std::uint8_t* block = group + k * blockBytes;
    const std::uint8_t* previous = k > 0 ? block - blockBytes : chain.data();
#pragma GCC unroll 4
    for (std::size_t q = 0; q < wordsPerBlock<Word>; ++q) {
      storeLittleEndian(
          block + q * sizeof(Word),
          words[q * blocks + k] ^ loadLittleEndian<Word>(previous + q * sizeof(Word)));
    }
  }
  chain = nextChain;
  // Both held the blocks' plaintext (before the XOR with the chain).
  secure_wipe(state);
  secure_wipe(words);
}

template <typename Word>
void decrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
             std::uint8_t* data, std::uint32_t length) noexcept {
  DecryptionKeys<Word> keys;
  {
    Schedule<Word> schedule{};
    expandKey(key, schedule);
    for (std::size_t i = 0; i < roundKeyCount; ++i) {
      keys[i] = inEveryLane(schedule[i]);
    }
    secure_wipe(schedule);
  }
  std::array<std::uint8_t, blockBytes> chain{};
  std::copy(iv.begin(), iv.end(), chain.begin());
  constexpr std::size_t groupBytes = lanes<Word> * blockBytes;
  const std::size_t whole = length / blockBytes * blockBytes;
  std::size_t offset = 0;
  for (; offset + groupBytes <= whole; offset += groupBytes) {
    decryptGroup(keys, data + offset, chain);
  }
  // The last blocks, fewer than a group, through a buffer; what follows them
  // there is never read back.
  if (offset < whole) {
    std::array<std::uint8_t, groupBytes> tail{};
    std::copy(data + offset, data + whole, tail.begin());
    decryptGroup(keys, tail.data(), chain);
    std::copy(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(whole - offset),
              data + offset);
    secure_wipe(tail);
  }
  // The chain holds ciphertext only.
  secure_wipe(keys);
}

bool everywhere() noexcept {
  return true;
}

// The machine's word: 64 bits where pointers have them.
using MachineWord = std::conditional_t<(sizeof(void*) >= 8), std::uint64_t, std::uint32_t>;

}  // namespace
}  // namespace aes_cbc::bitsliced

namespace aes_cbc {

const Implementation bitslicedImplementation{"bitsliced", bitsliced::everywhere,
                                             bitsliced::encrypt<bitsliced::MachineWord>,
                                             bitsliced::decrypt<bitsliced::MachineWord>};

}  // namespace aes_cbc

#endif
