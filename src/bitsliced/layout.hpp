// The layout of the bitsliced implementation (bitsliced/
// bitsliced.cpp): where each bit of a block sits in the words, the linear
// layer of a round on that layout (MixColumns, InvMixColumns, ShiftRows for
// the round keys), and the packing of blocks into bit-planes and back, with
// the compile-time proofs of both. Plain constexpr code, compiled for no
// particular instructions.
//
// A word of W bits (64 on 64-bit targets, 32 on the others) has 16 slots of
// W/16 lanes; byte (row r, column c) of the state sits in slot 4r + c, so a
// row is a field of W/4 bits and MixColumns' "byte one row down" is the whole
// word rotated by W/4 bits. Decryption gives each lane a block: eight words,
// one plane each, hold W/16 blocks. CBC encryption is serial, so there the
// lanes hold planes of its one block instead (plane wW/16 + l in lane l of
// word w): the block fills 128/W words rather than eight, and the rotations
// of MixColumns cost that fraction. The S-box circuit takes the planes apart
// and the encryption puts them back each round.
//
// ShiftRows is never carried out (the layout's costliest step otherwise):
// this is the "fixslicing" of A. Adomnicai and T. Peyrin ("Fixslicing
// AES-like Ciphers", TCHES 2021 issue 1), in its fully fixsliced form. A
// round that skips it leaves the bytes of row r r columns from where
// ShiftRows would put them; MixColumns then finds the byte one row down also
// a few columns on, which two rotations and a mask reach, and the round keys
// are stored in the same coordinates. ShiftRows^4 is the identity, so four
// variants of MixColumns serve all rounds; after ten rounds the state is two
// ShiftRows from its place and is moved back once per block (decryption
// starts there instead). The code's own are the bit layout (the paper's
// packs two blocks into eight 32-bit words; here any word size, rows as
// fields of a word, and a one-block layout for serial encryption) and making
// up the last two ShiftRows outside the planes, as a swap of odd bytes in
// the words as read or stored.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "bitsliced/circuits.hpp"
#include "common/gf256.hpp"
#include "common/key_schedule.hpp"

namespace aes128::bitsliced {

// ---------------------------------------------------------------------------
// The layout: 16 slots of `lanes` bits, byte (r, c) in slot 4r + c.

template <typename Word>
constexpr unsigned wordBits = std::numeric_limits<Word>::digits;

template <typename Word>
constexpr unsigned lanes = wordBits<Word> / 16;

// Lane `lane` of every slot for which keep(row, column) holds.
template <typename Word, typename Predicate>
constexpr Word slotBits(Predicate keep, unsigned lane = 0, unsigned laneCount = 1) {
  Word bits = 0;
  for (unsigned slot = 0; slot < 16; ++slot) {
    if (keep(slot / 4, slot % 4)) {
      for (unsigned l = lane; l < lane + laneCount; ++l) {
        bits |= Word{1} << (slot * lanes<Word> + l);
      }
    }
  }
  return bits;
}

template <typename Word>
constexpr Word laneZero = slotBits<Word>([](unsigned, unsigned) { return true; });

// out[r][c] = in[r + rows][c + columns + columnsPerRow * r], indices modulo 4,
// in every lane: a whole-word rotation for each distance that occurs, masked
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
      const unsigned rotation = (from + 16 - slot) % 16 * lanes<Word>;
      std::size_t k = 0;
      while (k < t.count && t.rotation[k] != rotation) {
        ++k;
      }
      t.count = k < t.count ? t.count : k + 1;
      t.rotation[k] = rotation;
      t.mask[k] |=
          slotBits<Word>([slot](unsigned row, unsigned column) { return 4 * row + column == slot; },
                         0, lanes<Word>);
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

// ---------------------------------------------------------------------------
// The linear layer on a state of n words, each holding 8/n planes: eight
// words of one plane (several blocks), or 8/lanes words of one block.

template <typename Word, std::size_t n>
using State = std::array<Word, n>;

template <typename Word, std::size_t n>
constexpr unsigned planesPerWord = 8 / n;

// Lane l of each slot in a word of `planesPerWord` planes per slot: the
// whole word when there is one plane per word.
template <typename Word, std::size_t n>
constexpr Word planeLaneBits(unsigned l) {
  return slotBits<Word>([](unsigned, unsigned) { return true; }, l,
                        planesPerWord<Word, n> == 1 ? lanes<Word> : 1);
}

template <typename Word, std::size_t n>
constexpr void xorInto(State<Word, n>& target, const State<Word, n>& source) {
#pragma GCC unroll 8
  for (std::size_t w = 0; w < n; ++w) {
    target[w] ^= source[w];
  }
}

// Multiplication by x in GF(2^8), byte by byte: plane i moves to plane i+1,
// and plane 7 comes back as x^8 = x^4 + x^3 + x + 1 into planes 0, 1, 3, 4.
template <typename Word, std::size_t n>
constexpr State<Word, n> xtime(const State<Word, n>& a) {
  constexpr unsigned p = planesPerWord<Word, n>;
  constexpr Word first = planeLaneBits<Word, n>(0);
  constexpr Word last = planeLaneBits<Word, n>(p - 1);
  const Word top = (a[n - 1] & last) >> (p - 1);
  State<Word, n> result{};
  result[0] = ((a[0] << 1U) & ~first) | top;
#pragma GCC unroll 8
  for (std::size_t w = 1; w < n; ++w) {
    result[w] = ((a[w] << 1U) & ~first) | ((a[w - 1] & last) >> (p - 1));
  }
  constexpr std::array<unsigned, 3> reduction{1, 3, 4};
#pragma GCC unroll 3
  for (const unsigned plane : reduction) {
    result[plane / p] ^= top << (plane % p);
  }
  return result;
}

template <typename Word, std::size_t n>
constexpr State<Word, n> operator^(State<Word, n> a, const State<Word, n>& b) {
  xorInto(a, b);
  return a;
}

// A word's bytes k rows down (row r takes row r + k). In a state that has
// skipped `shifted` ShiftRows, the byte k rows down is also k * shifted
// columns on.
template <unsigned k, unsigned shifted, typename Word>
constexpr Word rowsDownInWord(Word x) {
  return gather<k, k * shifted % 4, 0>(x);
}

template <unsigned k, unsigned shifted, typename Word, std::size_t n>
constexpr State<Word, n> rowsDown(const State<Word, n>& a) {
  State<Word, n> result{};
#pragma GCC unroll 8
  for (std::size_t w = 0; w < n; ++w) {
    result[w] = rowsDownInWord<k, shifted>(a[w]);
  }
  return result;
}

// MixColumns (FIPS-197 section 5.1.3): b_r = {02}a_r + {03}a_r+1 + a_r+2 +
// a_r+3, which is X + (Y one row down) with c = a two rows down, X = 2a + c
// and Y = 3a + c = X + a: two rotations of each word.
template <unsigned shifted, typename Word, std::size_t n>
constexpr void mixColumns(State<Word, n>& a) {
  const State<Word, n> x = xtime(a) ^ rowsDown<2, shifted>(a);
  a = x ^ rowsDown<1, shifted>(x ^ a);
}

// InvMixColumns (FIPS-197 section 5.3.3). Its polynomial is MixColumns'
// times {04}x^2 + {05}, so it is MixColumns of v = a + 4u with
// u = a + (a two rows down). u is the same two rows down, so v two rows down
// is v + u, and MixColumns of v is X + (Y one row down) with Y = 2v + u and
// X = Y + v: as MixColumns, two rotations of each word.
//
// As written here for a state of any layout (the one-block states of single
// blocks); below, plane by plane for decryption's groups.
template <unsigned shifted, typename Word, std::size_t n>
constexpr void invMixColumnsOfBlock(State<Word, n>& a) {
  const State<Word, n> u = a ^ rowsDown<2, shifted>(a);
  const State<Word, n> v = a ^ xtime(xtime(u));
  const State<Word, n> y = xtime(v) ^ u;
  a = y ^ v ^ rowsDown<1, shifted>(y);
}

// Written out plane by plane for a state of eight planes (decryption's), in
// an order that keeps few planes live (found, like the circuits' order, by
// counting GCC's instructions). Multiplying by x moves plane i to i+1 and
// plane 7 back into planes 0, 1, 3 and 4, so the planes of 4u are u6,
// u6+u7, u0+u7, u1+u6, u2+u6+u7, u3+u7, u4, u5 and those of 2v are v7,
// v0+v7, v1, v2+v7, v3+v7, v4, v5, v6.
template <unsigned shifted, typename Word>
constexpr void invMixColumns(Planes<Word>& a) {
  const auto u = [&a](std::size_t i) { return a[i] ^ rowsDownInWord<2, shifted>(a[i]); };
  const auto mixed = [](Word y, Word v) { return y ^ v ^ rowsDownInWord<1, shifted>(y); };
  const Word u5 = u(5);
  const Word u1 = u(1);
  const Word v7 = a[7] ^ u5;
  const Word u0 = u(0);
  const Word y0 = v7 ^ u0;
  const Word u6 = u(6);
  const Word u7 = u(7);
  const Word v2 = a[2] ^ u0 ^ u7;
  const Word v0 = a[0] ^ u6;
  const Word out0 = mixed(y0, v0);
  const Word y1 = v0 ^ v7 ^ u1;
  const Word v3 = a[3] ^ u1 ^ u6;
  const Word u3 = u(3);
  const Word y3 = v2 ^ v7 ^ u3;
  const Word out3 = mixed(y3, v3);
  const Word v5 = a[5] ^ u3 ^ u7;
  const Word y6 = v5 ^ u6;
  const Word u67 = u6 ^ u7;
  const Word u4 = u(4);
  const Word y4 = v3 ^ v7 ^ u4;
  const Word v6 = a[6] ^ u4;
  const Word y7 = v6 ^ u7;
  const Word out6 = mixed(y6, v6);
  const Word out7 = mixed(y7, v7);
  const Word v1 = a[1] ^ u67;
  const Word out1 = mixed(y1, v1);
  const Word u2 = u(2);
  const Word y2 = v1 ^ u2;
  const Word out2 = mixed(y2, v2);
  const Word v4 = a[4] ^ u2 ^ u67;
  const Word y5 = v4 ^ u5;
  const Word out4 = mixed(y4, v4);
  const Word out5 = mixed(y5, v5);
  a = {out0, out1, out2, out3, out4, out5, out6, out7};
}

// ShiftRows applied `times` times, to put round keys in the coordinates of
// their round.
template <unsigned times, typename Word, std::size_t n>
constexpr void shiftRows(State<Word, n>& a) {
#pragma GCC unroll 8
  for (Word& word : a) {
    word = gather<0, 0, times % 4>(word);
  }
}

// ---------------------------------------------------------------------------
// Into planes and out of them. Blocks are read as little-endian words; a
// transposition then moves each bit to its plane and slot by exchanging
// address bits: a bit's address is its word's index and its position in the
// word, and one step swaps one bit of the index with one of the position.

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
// index is the plane (in a one-block state: the planes' bits above the lane)
// and a position is (lane, column 0-1, row 0-1). The same steps in reverse
// order lead back.
template <typename Word, std::size_t blocks>
constexpr auto addressSwaps() {
  if constexpr (wordBits<Word> == 64 && blocks > 1) {
    // Index (block 0-1, column 1). Index bit 2 carries the rows up a place
    // and column bit 0 down to their own places before it takes bit 2 of
    // the byte; then the block bits go into the lanes.
    return std::array<AddressSwap, 6>{{{2, 3}, {2, 4}, {2, 5}, {2, 2}, {1, 1}, {0, 0}}};
  } else if constexpr (wordBits<Word> == 64) {
    // Index (column 1): the same first four steps; byte bits 0-1 are the lane.
    return std::array<AddressSwap, 4>{{{0, 3}, {0, 4}, {0, 5}, {0, 2}}};
  } else if constexpr (blocks > 1) {
    // Index (block, column 0-1).
    return std::array<AddressSwap, 3>{{{2, 2}, {1, 1}, {0, 0}}};
  } else {
    // Index (column 0-1); byte bit 0 is the lane.
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

// The planes of a one-block state for the S-box circuit: plane wP + l is
// lane l of word w, brought down to lane 0. The other lanes carry along what
// the circuit makes of them, and are masked off when the planes go back.
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
    a[plane / p] |= (planes[plane] & laneZero<Word>) << (plane % p);
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
  const unsigned lane = blocks == 1 ? i % p : index / (8 * bytesPerBlock);
  const unsigned slot = 4 * (j % 4) + j / 4;
  return static_cast<unsigned>(state[i / p] >> (slot * lanes<Word> + lane)) & 1U;
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

static_assert(packingIsRight<std::uint64_t, lanes<std::uint64_t>>() &&
              packingIsRight<std::uint64_t, 1>() &&
              packingIsRight<std::uint32_t, lanes<std::uint32_t>>() &&
              packingIsRight<std::uint32_t, 1>());

// MixColumns and InvMixColumns against their matrices (FIPS-197 sections
// 5.1.3 and 5.3.3, products from gmul), on a state of distinct bytes
// in the coordinates of round 0.
template <typename Word, std::size_t blocks>
constexpr bool columnMixesMatchTheirMatrices() {
  std::array<std::uint8_t, blocks * blockBytes> bytes{};
  for (std::size_t j = 0; j < bytes.size(); ++j) {
    bytes[j] = static_cast<std::uint8_t>(37 * j + 11);
  }
  Words<Word, blocks> mixed = toState<Word, blocks>(load<Word, blocks>(bytes.data()));
  Words<Word, blocks> unmixed = mixed;
  mixColumns<0>(mixed);
  if constexpr (blocks > 1) {
    invMixColumns<0>(unmixed);
  } else {
    invMixColumnsOfBlock<0>(unmixed);
  }
  std::array<std::uint8_t, blocks * blockBytes> forward{};
  std::array<std::uint8_t, blocks * blockBytes> inverse{};
  store<Word, blocks>(forward.data(), fromState<Word, blocks>(mixed));
  store<Word, blocks>(inverse.data(), fromState<Word, blocks>(unmixed));
  for (std::size_t j = 0; j < bytes.size(); ++j) {
    const auto row = [&](std::size_t down) { return bytes[j - j % 4 + (j + down) % 4]; };
    const auto sum = [&](std::array<std::uint8_t, 4> coefficients) {
      unsigned total = 0;
      for (std::size_t down = 0; down < 4; ++down) {
        total ^= gmul(coefficients[down], row(down));
      }
      return total;
    };
    if (forward[j] != sum({2, 3, 1, 1}) || inverse[j] != sum({0x0e, 0x0b, 0x0d, 0x09})) {
      return false;
    }
  }
  return true;
}

static_assert(columnMixesMatchTheirMatrices<std::uint64_t, lanes<std::uint64_t>>() &&
              columnMixesMatchTheirMatrices<std::uint64_t, 1>() &&
              columnMixesMatchTheirMatrices<std::uint32_t, lanes<std::uint32_t>>() &&
              columnMixesMatchTheirMatrices<std::uint32_t, 1>());

}  // namespace aes128::bitsliced
