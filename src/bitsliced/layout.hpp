// The bit layout of the bitsliced implementation (bitsliced/bitsliced.cpp):
// where each bit of a block sits in the words. Plain constexpr code,
// compiled for no particular instructions. The linear layer of a round on
// this layout is in bitsliced/linear_layer.hpp, the packing of blocks into
// it and back in bitsliced/packing.hpp.
//
// A block's bytes are spread over eight bit-planes, plane i holding bit i of
// every byte. A word of W bits (64 on 64-bit targets, 32 on the others) has
// 16 slots of W/16 bits; byte (row r, column c) of the state sits in slot
// 4r + c, so a row is a field of W/4 bits and MixColumns' "byte one row
// down" is the whole word rotated by W/4 bits. Decryption gives each bit of
// a slot a block: eight words, one plane each, hold a group of W/16 blocks.
// CBC encryption is serial, so there the bits of a slot hold planes of its
// one block instead (plane wW/16 + l in bit l of the slots of word w): the
// block fills 128/W words rather than eight, and the rotations of
// MixColumns cost that fraction. The S-box circuit takes the planes apart
// and the encryption puts them back each round.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <limits>
#include <utility>

namespace aes128::bitsliced {

// Eight planes, plane i bit i of every byte: what the S-box circuits
// (bitsliced/sbox_gates.hpp) take and give.
template <typename Word>
using Planes = std::array<Word, 8>;

template <typename Word>
constexpr unsigned wordBits = std::numeric_limits<Word>::digits;

// The bits of a slot: 16 slots to a word, byte (r, c) in slot 4r + c.
template <typename Word>
constexpr unsigned slotWidth = wordBits<Word> / 16;

// The blocks of a group, which decryption takes together: one to each bit
// of a slot.
template <typename Word>
constexpr std::size_t groupBlocks = slotWidth<Word>;

// Bits `first` to `first` + `count` - 1 of every slot for which keep(row,
// column) holds.
template <typename Word, typename Predicate>
constexpr Word slotBits(Predicate keep, unsigned first = 0, unsigned count = 1) {
  Word bits = 0;
  for (unsigned slot = 0; slot < 16; ++slot) {
    if (keep(slot / 4, slot % 4)) {
      for (unsigned bit = first; bit < first + count; ++bit) {
        bits |= Word{1} << (slot * slotWidth<Word> + bit);
      }
    }
  }
  return bits;
}

template <typename Word>
constexpr Word firstBitOfSlots = slotBits<Word>([](unsigned, unsigned) { return true; });

// out[r][c] = in[r + rows][c + columns + columnsPerRow * r], indices modulo 4,
// in every bit of the slots: a whole-word rotation for each distance that occurs, masked
// to the slots that take their byte from that distance.
template <typename Word, unsigned rows, unsigned columns, unsigned columnsPerRow>
struct Gather {
  struct Terms {
    std::array<unsigned, 16> rotation{};
    std::array<Word, 16> mask{};
    std::size_t count = 0;
  };

  static constexpr Terms terms = [] {
    Terms t;
    for (unsigned slot = 0; slot < 16; ++slot) {
      const unsigned r = slot / 4;
      const unsigned c = slot % 4;
      const unsigned from = 4 * ((r + rows) % 4) + (c + columns + columnsPerRow * r) % 4;
      const unsigned rotation = (from + 16 - slot) % 16 * slotWidth<Word>;
      std::size_t k = 0;
      while (k < t.count && t.rotation[k] != rotation) {
        ++k;
      }
      t.count = k < t.count ? t.count : k + 1;
      t.rotation[k] = rotation;
      t.mask[k] |=
          slotBits<Word>([slot](unsigned row, unsigned column) { return 4 * row + column == slot; },
                         0, slotWidth<Word>);
    }
    return t;
  }();

  template <std::size_t... k>
  static constexpr Word apply(Word x, std::index_sequence<k...> /*terms*/) {
    return ((std::rotr(x, static_cast<int>(terms.rotation[k])) & terms.mask[k]) | ...);
  }
};

template <unsigned rows, unsigned columns, unsigned columnsPerRow, typename Word>
constexpr Word gather(Word x) {
  constexpr auto& terms = Gather<Word, rows, columns, columnsPerRow>::terms;
  if constexpr (terms.count == 2) {
    // One rotation for all, then the other distance where it is needed:
    // one mask instead of two.
    const Word first = std::rotr(x, static_cast<int>(terms.rotation[0]));
    const auto further = static_cast<int>(terms.rotation[1] - terms.rotation[0]);
    return first ^ ((first ^ std::rotr(first, further)) & terms.mask[1]);
  } else {
    return Gather<Word, rows, columns, columnsPerRow>::apply(
        x, std::make_index_sequence<terms.count>{});
  }
}

// A state of n words, each holding 8/n planes: eight words of one plane (a
// group), or 128/W words of one block.
template <typename Word, std::size_t n>
using State = std::array<Word, n>;

template <typename Word, std::size_t n>
constexpr unsigned planesPerWord = 8 / n;

// The bits of the word's plane k, k < planesPerWord: bit k of each slot, or
// the whole word when it holds one plane.
template <typename Word, std::size_t n>
constexpr Word planeBits(unsigned k) {
  return slotBits<Word>([](unsigned, unsigned) { return true; }, k,
                        planesPerWord<Word, n> == 1 ? slotWidth<Word> : 1);
}

}  // namespace aes128::bitsliced
