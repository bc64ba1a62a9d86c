// The linear layer of a round on the layout of bitsliced/layout.hpp:
// MixColumns, InvMixColumns, and ShiftRows for the round keys, with the
// compile-time proof of the column mixes against their matrices. Plain
// constexpr code, compiled for no particular instructions.
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

#include <array>
#include <cstddef>
#include <cstdint>

#include "bitsliced/layout.hpp"
#include "bitsliced/packing.hpp"
#include "common/gf256.hpp"
#include "common/key_schedule.hpp"

namespace aes128::bitsliced {

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
  constexpr Word first = planeBits<Word, n>(0);
  constexpr Word last = planeBits<Word, n>(p - 1);
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

// MixColumns and InvMixColumns against their matrices (FIPS-197 sections
// 5.1.3 and 5.3.3, products from gmul), on a state of distinct bytes
// in the coordinates of round 0.
template <typename Word, std::size_t blocks>
constexpr bool linearLayerMatchesItsMatrices() {
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

static_assert(linearLayerMatchesItsMatrices<std::uint64_t, groupBlocks<std::uint64_t>>() &&
              linearLayerMatchesItsMatrices<std::uint64_t, 1>() &&
              linearLayerMatchesItsMatrices<std::uint32_t, groupBlocks<std::uint32_t>>() &&
              linearLayerMatchesItsMatrices<std::uint32_t, 1>());

}  // namespace aes128::bitsliced
