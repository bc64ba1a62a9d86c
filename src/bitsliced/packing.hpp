// Packing blocks into the bitsliced layout (bitsliced/layout.hpp) and back,
// with the compile-time proof that every bit reaches its place. Plain
// constexpr code, compiled for no particular instructions.
//
// Blocks are read as little-endian words; a transposition then moves each
// bit to its plane and slot by exchanging address bits: a bit's address is
// its word's index and its position in the word, and one step swaps one bit
// of the index with one of the position.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "bitsliced/layout.hpp"
#include "common/key_schedule.hpp"

namespace aes128::bitsliced {

template <typename Word>
constexpr std::size_t wordsPerBlock = blockBytes / sizeof(Word);

// Words in little-endian byte order: one load or store on little-endian
// targets, with a byte reversal on big-endian ones.
static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

template <typename Word>
constexpr Word loadLittleEndian(const std::uint8_t* bytes) {
  std::array<std::uint8_t, sizeof(Word)> raw{};
  std::copy_n(bytes, raw.size(), raw.begin());
  if constexpr (std::endian::native == std::endian::big) {
    std::reverse(raw.begin(), raw.end());
  }
  return std::bit_cast<Word>(raw);
}

template <typename Word>
constexpr void storeLittleEndian(std::uint8_t* bytes, Word word) {
  auto raw = std::bit_cast<std::array<std::uint8_t, sizeof(Word)>>(word);
  if constexpr (std::endian::native == std::endian::big) {
    std::reverse(raw.begin(), raw.end());
  }
  std::copy(raw.begin(), raw.end(), bytes);
}

// Address bit `indexBit` of the word index trades places with bit
// `positionBit` of the position: of two words whose indices differ in that
// bit, the first gives its bits whose position has that bit set for the
// second's bits whose position has it clear.
template <unsigned indexBit, unsigned positionBit, typename Word, std::size_t n>
constexpr void swapAddressBits(State<Word, n>& words) {
  constexpr unsigned distance = 1U << positionBit;
  constexpr Word clear = [] {
    Word bits = 0;
    for (unsigned position = 0; position < wordBits<Word>; ++position) {
      bits |= ((position >> positionBit) & 1U) == 0 ? Word{1} << position : Word{0};
    }
    return bits;
  }();
  constexpr std::size_t step = std::size_t{1} << indexBit;
#pragma GCC unroll 4
  for (std::size_t pair = 0; pair < n / 2; ++pair) {
    const std::size_t first = (pair / step) * 2 * step + pair % step;
    const Word t = ((words[first] >> distance) ^ words[first + step]) & clear;
    words[first + step] ^= t;
    words[first] ^= t << distance;
  }
}

struct AddressSwap {
  unsigned indexBit;
  unsigned positionBit;
};

// The steps from the words as read to the state. As read, word q * blocks + k
// is word q of block k, and a position is (bit 0-2 of the byte, then the byte
// in the word: row 0-1, and in a 64-bit word column bit 0). In the state the
// index is the plane (in a one-block state: the planes' bits above the bit
// of the slot) and a position is (bit of the slot, column 0-1, row 0-1). The
// same steps in reverse order lead back.
template <typename Word, std::size_t blocks>
constexpr auto addressSwaps() {
  if constexpr (wordBits<Word> == 64 && blocks > 1) {
    // Index (block 0-1, column 1). Index bit 2 carries the rows up a place
    // and column bit 0 down to their own places before it takes bit 2 of
    // the byte; then the block bits go into the bits of the slots.
    return std::array<AddressSwap, 6>{{{2, 3}, {2, 4}, {2, 5}, {2, 2}, {1, 1}, {0, 0}}};
  } else if constexpr (wordBits<Word> == 64) {
    // Index (column 1): the same first four steps; byte bits 0-1 are the bit
    // of the slot.
    return std::array<AddressSwap, 4>{{{0, 3}, {0, 4}, {0, 5}, {0, 2}}};
  } else if constexpr (blocks > 1) {
    // Index (block, column 0-1).
    return std::array<AddressSwap, 3>{{{2, 2}, {1, 1}, {0, 0}}};
  } else {
    // Index (column 0-1); byte bit 0 is the bit of the slot.
    return std::array<AddressSwap, 2>{{{0, 1}, {1, 2}}};
  }
}

template <typename Word, std::size_t blocks>
constexpr auto swapsOf = addressSwaps<Word, blocks>();

template <typename Word, std::size_t blocks, std::size_t n, std::size_t... s>
constexpr void transpose(State<Word, n>& words, std::index_sequence<s...> /*steps*/) {
  (swapAddressBits<swapsOf<Word, blocks>[s].indexBit, swapsOf<Word, blocks>[s].positionBit>(words),
   ...);
}

template <typename Word, std::size_t blocks, std::size_t n, std::size_t... s>
constexpr void transposeBack(State<Word, n>& words, std::index_sequence<s...> /*steps*/) {
  constexpr std::size_t last = sizeof...(s) - 1;
  (swapAddressBits<swapsOf<Word, blocks>[last - s].indexBit,
                   swapsOf<Word, blocks>[last - s].positionBit>(words),
   ...);
}

template <typename Word, std::size_t blocks>
using Words = State<Word, wordsPerBlock<Word> * blocks>;

// `blocks` blocks at `data` as words: word q of block k at q * blocks + k.
template <typename Word, std::size_t blocks>
constexpr Words<Word, blocks> load(const std::uint8_t* data) {
  Words<Word, blocks> words{};
  for (std::size_t k = 0; k < blocks; ++k) {
#pragma GCC unroll 4
    for (std::size_t q = 0; q < wordsPerBlock<Word>; ++q) {
      words[q * blocks + k] = loadLittleEndian<Word>(data + k * blockBytes + q * sizeof(Word));
    }
  }
  return words;
}

template <typename Word, std::size_t blocks>
constexpr void store(std::uint8_t* data, const Words<Word, blocks>& words) {
  for (std::size_t k = 0; k < blocks; ++k) {
#pragma GCC unroll 4
    for (std::size_t q = 0; q < wordsPerBlock<Word>; ++q) {
      storeLittleEndian(data + k * blockBytes + q * sizeof(Word), words[q * blocks + k]);
    }
  }
}

// ShiftRows twice, on words as stored: rows 1 and 3 trade columns 0-1 for
// 2-3, which are the odd bytes of a block's first half and of its second.
template <typename Word, std::size_t blocks>
constexpr void shiftRowsTwice(Words<Word, blocks>& words) {
  constexpr Word oddBytes = [] {
    Word bits = 0;
    for (std::size_t byte = 1; byte < sizeof(Word); byte += 2) {
      bits |= Word{0xff} << (8 * byte);
    }
    return bits;
  }();
  constexpr std::size_t half = wordsPerBlock<Word> / 2 * blocks;
#pragma GCC unroll 8
  for (std::size_t i = 0; i < half; ++i) {
    const Word t = (words[i] ^ words[i + half]) & oddBytes;
    words[i] ^= t;
    words[i + half] ^= t;
  }
}

template <typename Word, std::size_t blocks>
constexpr Words<Word, blocks> toState(Words<Word, blocks> words) {
  transpose<Word, blocks>(words, std::make_index_sequence<swapsOf<Word, blocks>.size()>{});
  return words;
}

template <typename Word, std::size_t blocks>
constexpr Words<Word, blocks> fromState(Words<Word, blocks> state) {
  transposeBack<Word, blocks>(state, std::make_index_sequence<swapsOf<Word, blocks>.size()>{});
  return state;
}

// The planes of a one-block state for the S-box circuit: plane wP + l is bit
// l of the slots of word w, brought down to bit 0. The other bits of the
// slots carry along what the circuit makes of them, and are masked off when
// the planes go back.
template <typename Word>
using Block = Words<Word, 1>;

template <typename Word>
constexpr unsigned blockPlanesPerWord = planesPerWord<Word, wordsPerBlock<Word>>;

template <typename Word>
constexpr Planes<Word> planesOf(const Block<Word>& a) {
  constexpr unsigned p = blockPlanesPerWord<Word>;
  Planes<Word> planes{};
#pragma GCC unroll 8
  for (unsigned plane = 0; plane < 8; ++plane) {
    planes[plane] = a[plane / p] >> (plane % p);
  }
  return planes;
}

template <typename Word>
constexpr Block<Word> blockOf(const Planes<Word>& planes) {
  constexpr unsigned p = blockPlanesPerWord<Word>;
  Block<Word> a{};
#pragma GCC unroll 8
  for (unsigned plane = 0; plane < 8; ++plane) {
    a[plane / p] |= (planes[plane] & firstBitOfSlots<Word>) << (plane % p);
  }
  return a;
}

// Bit `index` of `blocks` blocks (bit i of byte j of block k has index
// 128k + 8j + i), as a state holds it.
template <typename Word, std::size_t blocks>
constexpr unsigned bitOf(const Words<Word, blocks>& state, unsigned index) {
  constexpr unsigned p = planesPerWord<Word, wordsPerBlock<Word> * blocks>;
  constexpr unsigned bytesPerBlock = blockBytes;
  const unsigned i = index % 8;
  const unsigned j = index / 8 % bytesPerBlock;
  const unsigned bit = blocks == 1 ? i % p : index / (8 * bytesPerBlock);
  const unsigned slot = 4 * (j % 4) + j / 4;
  return static_cast<unsigned>(state[i / p] >> (slot * slotWidth<Word> + bit)) & 1U;
}

// Whether toState puts every bit in its place and fromState takes it back:
// one pattern for each of the nine bits of an index, each bit of the blocks
// set to that bit of its own index.
template <typename Word, std::size_t blocks>
constexpr bool packingIsRight() {
  constexpr unsigned bits = blocks * blockBytes * 8;
  for (unsigned a = 0; a < 9; ++a) {
    std::array<std::uint8_t, blocks * blockBytes> bytes{};
    for (unsigned index = 0; index < bits; ++index) {
      bytes[index / 8] |= static_cast<std::uint8_t>(((index >> a) & 1U) << (index % 8));
    }
    const Words<Word, blocks> state = toState<Word, blocks>(load<Word, blocks>(bytes.data()));
    for (unsigned index = 0; index < bits; ++index) {
      if (bitOf<Word, blocks>(state, index) != ((index >> a) & 1U)) {
        return false;
      }
    }
    std::array<std::uint8_t, blocks * blockBytes> back{};
    store<Word, blocks>(back.data(), fromState<Word, blocks>(state));
    if (back != bytes) {
      return false;
    }
  }
  return true;
}

static_assert(packingIsRight<std::uint64_t, groupBlocks<std::uint64_t>>() &&
              packingIsRight<std::uint64_t, 1>() &&
              packingIsRight<std::uint32_t, groupBlocks<std::uint32_t>>() &&
              packingIsRight<std::uint32_t, 1>());

}  // namespace aes128::bitsliced
