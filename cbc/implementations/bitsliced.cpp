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
// Layout. A word of W bits (64 on 64-bit targets, 32 on the others) has 16
// slots of W/16 lanes; byte (row r, column c) of the state sits in slot
// 4r + c, so a row is a field of W/4 bits and MixColumns' "byte one row down"
// is the whole word rotated by W/4 bits. Decryption gives each lane a block:
// eight words, one plane each, hold W/16 blocks. CBC encryption is serial, so
// there the lanes hold planes of its one block instead (plane wW/16 + l in
// lane l of word w): the block fills 128/W words rather than eight, and the
// rotations of ShiftRows and MixColumns cost that fraction. The S-box circuit
// takes the planes apart and the encryption puts them back each round.
//
// ShiftRows is never carried out (the layout's costliest step otherwise). A
// round that skips it leaves the bytes of row r r columns from where
// ShiftRows would put them; MixColumns then finds the byte one row down also
// a few columns on, which two rotations and a mask reach, and the round keys
// are stored in the same coordinates. ShiftRows^4 is the identity, so four variants of MixColumns
// serve all rounds; after ten rounds the state is two ShiftRows from its
// place and is moved back once per block (decryption starts there instead).
//
// S-box circuits. The nonlinear middle is Boyar and Peralta's (the depth-16
// circuit of "A depth-16 circuit for the AES S-box", 2012, with the 5-AND
// inversion in GF(2^4) of their earlier 113-gate circuit): 32 AND, 30 XOR.
// The linear layers above and below it were derived here from that circuit's
// linear maps, and for the inverse S-box from those maps composed with the
// inverse affine transformation, each written as a short XOR program found
// with Boyar and Peralta's shortest-linear-program heuristic. The affine
// constant 0x63 is left out of both circuits and added to the round keys
// instead (MixColumns and InvMixColumns map a column of equal bytes to
// itself). Gate counts: forward 116 (32 AND, 84 XOR), inverse 117 (32 AND,
// 85 XOR), no NOT. The static_asserts below check both against gf256::sbox
// and gf256::inverseSbox on all 256 inputs and the inverse's linear layers
// against the forward ones; others check the packing into planes and both
// column mixes.
#include "cbc/implementations.hpp"

#if AES_CBC_BITSLICED

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>

// NOLINTBEGIN(cppcoreguidelines-macro-usage): plain C++, for every CPU
#define AES_CBC_CORE_ENTRY
#define AES_CBC_CORE_INLINE [[gnu::flatten]] inline
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "cbc/shared/block_core.hpp"
#include "cbc/shared/cbc_mode.hpp"
#include "cbc/shared/key_expansion.hpp"
#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cipher/gf256.hpp"

namespace aes_cbc {
namespace {

// ---------------------------------------------------------------------------
// The S-box circuits, on planes of any unsigned word type. Their gates are
// listed in an order that keeps few values live at once: the compilers
// allocate registers largely in the order written, and the circuit holds
// more values than x86-64 has registers. The order was found by trying
// orders and counting the instructions GCC emits for the rounds.

template <typename Word>
using Planes = std::array<Word, 8>;

// The 22 linear combinations of the input bits that the nonlinear middle
// multiplies, named as in the published circuit; u7 is where that circuit
// takes its input bit u7 (bit 0 of the byte) itself. The top layers below
// list them in this order.
template <typename Word>
struct MiddleInputs {
  Word t1, t2, t3, t4, t6, t8, t9, t10, t13, t14, t15, t16, t17, t19, t20, t22, t23, t24, t25, t26,
      t27, u7;

  friend constexpr bool operator==(const MiddleInputs&, const MiddleInputs&) = default;
};

// Its 18 products, of which the output bits are linear combinations.
template <typename Word>
struct MiddleOutputs {
  Word m46, m47, m48, m49, m50, m51, m52, m53, m54, m55, m56, m57, m58, m59, m60, m61, m62, m63;
};

// x[i]: the plane of bit i. 24 XOR.
template <typename Word>
constexpr MiddleInputs<Word> forwardTop(const Planes<Word>& x) {
  const Word a0 = x[1] ^ x[3];
  const Word a1 = x[5] ^ x[6];
  const Word t9 = x[0] ^ a1;
  const Word t20 = x[7] ^ t9;
  const Word t19 = x[4] ^ t9;
  const Word t22 = x[1] ^ t9;
  const Word t3 = x[1] ^ x[7];
  const Word t1 = x[4] ^ x[7];
  const Word t4 = x[2] ^ x[4];
  const Word t2 = t1 ^ t4;
  const Word t23 = t2 ^ t22;
  const Word t13 = t19 ^ t23;
  const Word a2 = x[2] ^ a0;
  const Word t16 = x[5] ^ a2;
  const Word t15 = x[6] ^ a2;
  const Word t25 = x[7] ^ t16;
  const Word t17 = t25 ^ t20;
  const Word t26 = t16 ^ t3;
  const Word t6 = a0 ^ t1;
  const Word t10 = a1 ^ t6;
  const Word t8 = x[0] ^ t6;
  const Word t14 = t1 ^ t15;
  const Word t24 = t2 ^ t10;
  const Word t27 = t15 ^ t10;
  return {t1,  t2,  t3,  t4,  t6,  t8,  t9,  t10, t13, t14, t15,
          t16, t17, t19, t20, t22, t23, t24, t25, t26, t27, x[0]};
}

// The same combinations of the inverse affine transformation's linear part
// applied to y. 24 XOR.
template <typename Word>
constexpr MiddleInputs<Word> inverseTop(const Planes<Word>& y) {
  const Word a1 = y[2] ^ y[7];
  const Word u7 = y[5] ^ a1;
  const Word a0 = y[0] ^ y[1];
  const Word t22 = y[4] ^ y[6];
  const Word t2 = y[6] ^ y[7];
  const Word t1 = y[3] ^ y[4];
  const Word t8 = y[7] ^ t22;
  const Word t4 = y[3] ^ t8;
  const Word t23 = y[6] ^ t8;
  const Word t6 = t8 ^ u7;
  const Word t19 = t22 ^ a0;
  const Word t13 = a0 ^ t2;
  const Word t17 = y[5] ^ t19;
  const Word t20 = t1 ^ t19;
  const Word t25 = t17 ^ t20;
  const Word t15 = t17 ^ u7;
  const Word t26 = y[1] ^ t17;
  const Word t9 = y[0] ^ t1;
  const Word t16 = t17 ^ t9;
  const Word t3 = y[1] ^ t9;
  const Word t27 = t6 ^ t16;
  const Word t10 = t15 ^ t27;
  const Word t24 = t2 ^ t10;
  const Word t14 = t1 ^ t15;
  return {t1,  t2,  t3,  t4,  t6,  t8,  t9,  t10, t13, t14, t15,
          t16, t17, t19, t20, t22, t23, t24, t25, t26, t27, u7};
}

// The inversion in GF(2^8), by way of GF(2^4). 32 AND, 30 XOR.
template <typename Word>
constexpr MiddleOutputs<Word> middle(const MiddleInputs<Word>& in) {
  // The GF(2^4) element to invert, (m20, m21, m22, m23): 9 AND, 14 XOR.
  const Word m11 = in.t1 & in.t15;
  const Word m6 = in.t3 & in.t16;
  const Word m8 = in.t26 ^ m6;
  const Word m7 = in.t22 & in.t9;
  const Word m18 = m8 ^ m7;
  const Word m9 = in.t20 & in.t17;
  const Word m10 = m9 ^ m6;
  const Word m12 = in.t4 & in.t27;
  const Word m13 = m12 ^ m11;
  const Word m22 = m18 ^ m13;
  const Word m1 = in.t13 & in.t6;
  const Word m3 = in.t14 ^ m1;
  const Word m4 = in.t19 & in.u7;
  const Word m5 = m4 ^ m1;
  const Word m17 = m5 ^ in.t24;
  const Word m14 = in.t2 & in.t10;
  const Word m15 = m14 ^ m11;
  const Word m19 = m10 ^ m15;
  const Word m23 = m19 ^ in.t25;
  const Word m21 = m17 ^ m15;
  const Word m2 = in.t23 & in.t8;
  const Word m16 = m3 ^ m2;
  const Word m20 = m16 ^ m13;
  // Its inverse, (m37, m38, m39, m40): 5 AND, 11 XOR; as soon as a part of
  // it is known, its products with the two elements of GF(2^4) that the
  // input gives (18 AND, with the sums m41 to m45: 5 XOR).
  const Word i1 = m20 & m22;
  const Word i2 = m20 ^ m21;
  const Word i3 = m23 ^ i1;
  const Word i4 = m21 ^ i1;
  const Word i5 = i2 & i3;
  const Word m37 = i5 ^ m21;
  const Word m60 = m37 & in.t20;
  const Word m51 = m37 & in.t17;
  const Word i6 = m22 ^ m23;
  const Word i7 = i4 & i6;
  const Word m39 = i7 ^ m23;
  const Word m48 = m39 & in.u7;
  const Word m57 = m39 & in.t19;
  const Word i8 = i3 ^ m39;
  const Word i9 = m23 & i8;
  const Word i10 = i3 ^ i9;
  const Word i11 = i9 ^ m22;
  const Word i12 = m37 & i10;
  const Word m38 = i2 ^ i12;
  const Word m40 = i11 ^ m39;
  const Word m47 = m40 & in.t8;
  const Word m50 = m38 & in.t9;
  const Word m59 = m38 & in.t22;
  const Word m56 = m40 & in.t23;
  const Word m44 = m39 ^ m40;
  const Word m41 = m38 ^ m40;
  const Word m42 = m37 ^ m39;
  const Word m63 = m41 & in.t2;
  const Word m43 = m37 ^ m38;
  const Word m55 = m44 & in.t13;
  const Word m46 = m44 & in.t6;
  const Word m49 = m43 & in.t16;
  const Word m58 = m43 & in.t3;
  const Word m54 = m41 & in.t10;
  const Word m52 = m42 & in.t15;
  const Word m45 = m42 ^ m41;
  const Word m61 = m42 & in.t1;
  const Word m53 = m45 & in.t27;
  const Word m62 = m45 & in.t4;
  return {m46, m47, m48, m49, m50, m51, m52, m53, m54, m55, m56, m57, m58, m59, m60, m61, m62, m63};
}

// The S-box's output planes but for the constant. 30 XOR.
template <typename Word>
constexpr Planes<Word> forwardBottom(const MiddleOutputs<Word>& p) {
  const Word b0 = p.m61 ^ p.m62;
  const Word b16 = p.m56 ^ p.m57;
  const Word b7 = p.m52 ^ p.m53;
  const Word b5 = p.m46 ^ p.m49;
  const Word b8 = p.m51 ^ p.m59;
  const Word b19 = p.m48 ^ p.m51;
  const Word b13 = p.m49 ^ b7;
  const Word b2 = p.m55 ^ p.m56;
  const Word b6 = p.m48 ^ p.m58;
  const Word b9 = b5 ^ b6;
  const Word b12 = p.m60 ^ b9;
  const Word b18 = p.m58 ^ b8;
  const Word b17 = b0 ^ b8;
  const Word s0 = b9 ^ b17;
  const Word b1 = p.m50 ^ b0;
  const Word b3 = b1 ^ b2;
  const Word b4 = p.m47 ^ b3;
  const Word s7 = b3 ^ b13;
  const Word s4 = b4 ^ b5;
  const Word s3 = b4 ^ b19;
  const Word b14 = p.m50 ^ b13;
  const Word b10 = p.m53 ^ b1;
  const Word b11 = p.m54 ^ b10;
  const Word b15 = b11 ^ b12;
  const Word s1 = b11 ^ b18;
  const Word b20 = p.m62 ^ b15;
  const Word s2 = b15 ^ b16;
  const Word b21 = b14 ^ b20;
  const Word s5 = p.m63 ^ b21;
  const Word s6 = s4 ^ b14;
  return {s0, s1, s2, s3, s4, s5, s6, s7};
}

// The inverse affine transformation's linear part applied to those. 31 XOR.
template <typename Word>
constexpr Planes<Word> inverseBottom(const MiddleOutputs<Word>& p) {
  const Word b5 = p.m49 ^ p.m50;
  const Word b8 = p.m50 ^ p.m51;
  const Word b6 = p.m48 ^ p.m56;
  const Word b10 = p.m57 ^ p.m63;
  const Word b14 = p.m53 ^ p.m54;
  const Word b17 = p.m57 ^ p.m59;
  const Word b22 = p.m62 ^ b14;
  const Word b16 = p.m61 ^ b10;
  const Word s0 = p.m55 ^ b16;
  const Word b0 = p.m52 ^ p.m61;
  const Word b1 = p.m59 ^ b0;
  const Word b2 = p.m58 ^ b1;
  const Word b3 = p.m62 ^ b2;
  const Word b4 = p.m54 ^ b3;
  const Word b7 = p.m46 ^ b4;
  const Word b9 = b4 ^ b5;
  const Word s1 = b9 ^ b14;
  const Word b20 = b6 ^ b10;
  const Word s4 = p.m48 ^ b7;
  const Word b11 = b6 ^ b9;
  const Word b18 = b3 ^ s0;
  const Word b19 = p.m52 ^ b18;
  const Word b15 = b7 ^ b8;
  const Word s7 = b8 ^ b9;
  const Word b21 = b15 ^ b20;
  const Word s3 = b21 ^ b22;
  const Word s2 = p.m47 ^ b15;
  const Word b12 = p.m47 ^ b11;
  const Word b13 = p.m60 ^ b12;
  const Word s5 = b13 ^ b17;
  const Word s6 = s5 ^ b19;
  return {s0, s1, s2, s3, s4, s5, s6, s7};
}

// SubBytes less its constant: S(x) ^ 0x63.
template <typename Word>
constexpr Planes<Word> subBytes(const Planes<Word>& x) {
  return forwardBottom(middle(forwardTop(x)));
}

// InvSubBytes of the input plus the constant: S^-1(y ^ 0x63).
template <typename Word>
constexpr Planes<Word> invSubBytes(const Planes<Word>& y) {
  return inverseBottom(middle(inverseTop(y)));
}

// The linear part of the inverse affine transformation (FIPS-197 section
// 5.3.2), on planes: bit i of the result is bits i-1, i-3 and i-6 of y.
template <typename Word>
constexpr Planes<Word> inverseAffineLinear(const Planes<Word>& y) {
  Planes<Word> result{};
  for (std::size_t i = 0; i < 8; ++i) {
    result[i] = y[(i + 7) % 8] ^ y[(i + 5) % 8] ^ y[(i + 2) % 8];
  }
  return result;
}

// Planes of 64 bytes at once: bit j of plane i is bit i of byte `first` + j.
constexpr Planes<std::uint64_t> consecutiveBytes(unsigned first) {
  Planes<std::uint64_t> planes{};
  for (unsigned j = 0; j < 64; ++j) {
    for (unsigned i = 0; i < 8; ++i) {
      planes[i] |= std::uint64_t{((first + j) >> i) & 1U} << j;
    }
  }
  return planes;
}

constexpr std::uint8_t byteOf(const Planes<std::uint64_t>& planes, unsigned j) {
  unsigned byte = 0;
  for (unsigned i = 0; i < 8; ++i) {
    byte |= static_cast<unsigned>((planes[i] >> j) & 1U) << i;
  }
  return static_cast<std::uint8_t>(byte);
}

constexpr bool circuitsMatchTheSboxes() {
  for (unsigned first = 0; first < 256; first += 64) {
    const Planes<std::uint64_t> in = consecutiveBytes(first);
    const Planes<std::uint64_t> forward = subBytes(in);
    const Planes<std::uint64_t> inverse = invSubBytes(in);
    for (unsigned j = 0; j < 64; ++j) {
      const auto x = static_cast<std::uint8_t>(first + j);
      if ((byteOf(forward, j) ^ 0x63U) != gf256::sbox(x) ||
          byteOf(inverse, j) != gf256::inverseSbox(static_cast<std::uint8_t>(x ^ 0x63U))) {
        return false;
      }
    }
  }
  return true;
}

static_assert(circuitsMatchTheSboxes());

// Where the inverse's linear layers come from. Both are linear, so the 8
// unit input vectors, and the 18 unit product vectors (as lanes of a word),
// are enough to compare them.
constexpr bool inverseLayersAreTheForwardOnesThroughTheInverseAffineMap() {
  Planes<std::uint64_t> unit{};
  for (unsigned i = 0; i < 8; ++i) {
    unit[i] = std::uint64_t{1} << i;
  }
  if (inverseTop(unit) != forwardTop(inverseAffineLinear(unit))) {
    return false;
  }
  std::array<std::uint32_t, 18> products{};
  for (unsigned k = 0; k < products.size(); ++k) {
    products[k] = 1U << k;
  }
  const auto [m46, m47, m48, m49, m50, m51, m52, m53, m54, m55, m56, m57, m58, m59, m60, m61, m62,
              m63] = products;
  const MiddleOutputs<std::uint32_t> p{m46, m47, m48, m49, m50, m51, m52, m53, m54,
                                       m55, m56, m57, m58, m59, m60, m61, m62, m63};
  return inverseBottom(p) == inverseAffineLinear(forwardBottom(p));
}

static_assert(inverseLayersAreTheForwardOnesThroughTheInverseAffineMap());

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
// 5.1.3 and 5.3.3, products from gf256::gmul), on a state of distinct bytes
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
        total ^= gf256::gmul(coefficients[down], row(down));
      }
      return total;
    };
    if (forward[j] != sum({2, 3, 1, 1}) ||
        (blocks > 1 && inverse[j] != sum({0x0e, 0x0b, 0x0d, 0x09}))) {
      return false;
    }
  }
  return true;
}

static_assert(columnMixesMatchTheirMatrices<std::uint64_t, lanes<std::uint64_t>>() &&
              columnMixesMatchTheirMatrices<std::uint64_t, 1>() &&
              columnMixesMatchTheirMatrices<std::uint32_t, lanes<std::uint32_t>>() &&
              columnMixesMatchTheirMatrices<std::uint32_t, 1>());

// ---------------------------------------------------------------------------
// The block core. Key expansion (FIPS-197 section 5.2) on a one-block state;
// encryption one block at a time, in one-block states; decryption `lanes`
// blocks at a time, one to a lane.

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

template <typename Word>
using Group = Words<Word, lanes<Word>>;

template <typename Word>
struct BitslicedCore {
  template <Schedule schedule>
  using RoundKeys =
      std::conditional_t<schedule == Schedule::encryption, std::array<Block<Word>, roundKeyCount>,
                         std::array<Planes<Word>, roundKeyCount>>;
  using Block = aes_cbc::Block<Word>;
  using Key = Block;
  // Decryption gives each lane of a word a block: a group of words is the
  // core's lane, and it decrypts one at a time.
  using Lane = Group<Word>;
  static constexpr std::size_t blocksPerLane = aes_cbc::lanes<Word>;
  static constexpr std::size_t lanes = 1;
  static constexpr bool lanesInRegisters = false;
  static constexpr bool unrollEncryption = false;

  static Block load(const std::uint8_t* bytes) { return aes_cbc::load<Word, 1>(bytes); }
  static void store(std::uint8_t* bytes, const Block& block) {
    aes_cbc::store<Word, 1>(bytes, block);
  }
  static Block bitwiseXor(Block a, const Block& b) {
    xorInto(a, b);
    return a;
  }
  static Lane loadLane(const std::uint8_t* bytes) {
    return aes_cbc::load<Word, blocksPerLane>(bytes);
  }
  static void storeLane(std::uint8_t* bytes, const Lane& lane) {
    aes_cbc::store<Word, blocksPerLane>(bytes, lane);
  }
  static Lane xorLanes(Lane a, const Lane& b) {
    xorInto(a, b);
    return a;
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
    constexpr unsigned l = aes_cbc::lanes<Word>;
    constexpr Word column0 = slotBits<Word>([](unsigned, unsigned c) { return c == 0; }, 0, l);
    constexpr Word columns23 = slotBits<Word>([](unsigned, unsigned c) { return c >= 2; }, 0, l);
    constexpr Word column3 = slotBits<Word>([](unsigned, unsigned c) { return c == 3; }, 0, l);
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
      spread |= spread >> l;
      spread |= spread >> (2 * l);
      Word prefix = key[w] ^ ((key[w] << l) & ~column0);
      prefix ^= (prefix << (2 * l)) & columns23;
      key[w] = prefix ^ spread ^ constant[w];
    }
    return key;
  }

  // Round key `round` as the rounds take it: from round 1 on with the S-box
  // constant that the circuits leave out, and in the coordinates of a state
  // that has skipped `round` ShiftRows (ShiftRows applied -round times).
  // Decryption has it in every lane.
  template <Schedule schedule, std::size_t round>
  static void place(RoundKeys<schedule>& roundKeys, Key key) {
    if constexpr (round > 0) {
      constexpr Block constant = inEveryColumn<Word>(sboxConstant);
      xorInto(key, constant);
    }
    shiftRows<4 - round % 4>(key);
    if constexpr (schedule == Schedule::encryption) {
      roundKeys[round] = key;
    } else {
      roundKeys[round] = inEveryLane(key);
    }
  }

  // A function of its own, so that the mode's loops around it keep their
  // registers.
  template <Schedule schedule>
  [[gnu::flatten, gnu::noinline]] static void expandKey(const std::uint8_t* key,
                                                        RoundKeys<schedule>& roundKeys) {
    expandKeyByRounds<BitslicedCore, schedule>(key, roundKeys);
  }

  // A one-block round key copied into every lane.
  static Planes<Word> inEveryLane(const Block& key) {
    Planes<Word> planes = planesOf(key);
#pragma GCC unroll 8
    for (Word& plane : planes) {
      plane &= laneZero<Word>;
      for (unsigned shift = 1; shift < blocksPerLane; shift *= 2) {
        plane |= plane << shift;
      }
    }
    return planes;
  }

  // --- Encryption ----------------------------------------------------------

  template <std::size_t round>
  static void encryptRound(Block& state, const Block& key) {
    state = blockOf(subBytes(planesOf(state)));
    if constexpr (round < roundKeyCount - 1) {
      mixColumns<round>(state);
    }
    xorInto(state, key);
  }

  template <std::size_t... r>
  static void encryptRounds(Block& state, const RoundKeys<Schedule::encryption>& keys,
                            std::index_sequence<r...> /*rounds*/) {
    (encryptRound<r + 1>(state, keys[r + 1]), ...);
  }

  // Everything it calls is compiled into it, and its state is its own, so
  // that the state can stay in registers.
  [[gnu::flatten]] static Block encrypt(const RoundKeys<Schedule::encryption>& keys,
                                        const Block& block) {
    Block state = toState<Word, 1>(block);
    xorInto(state, keys[0]);
    encryptRounds(state, keys, std::make_index_sequence<roundKeyCount - 1>{});
    Block words = fromState<Word, 1>(state);
    // Ten skipped ShiftRows: two to make up.
    shiftRowsTwice<Word, 1>(words);
    return words;
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
    (decryptRound<last - r>(state, keys[last - r]), ...);
  }

  // One group of blocks, one to a lane, in place. As in encrypt, everything
  // is compiled into it.
  template <std::size_t n>
  [[gnu::flatten]] static void decrypt(const RoundKeys<Schedule::decryption>& keys,
                                       Group<Word> (&groups)[n]) {
    static_assert(n == 1);
    Group<Word>& words = groups[0];
    // The ciphertext enters in the coordinates of round 10.
    shiftRowsTwice<Word, blocksPerLane>(words);
    Planes<Word> planes = toState<Word, blocksPerLane>(words);
    xorInto(planes, keys[roundKeyCount - 1]);
    decryptRounds(planes, keys, std::make_index_sequence<roundKeyCount - 1>{});
    words = fromState<Word, blocksPerLane>(planes);
    // Memory of the core's own that ends with the blocks' plaintext in it.
    secureWipe(planes);
  }
};

// The machine's word: 64 bits where pointers have them.
using MachineWord = std::conditional_t<(sizeof(void*) >= 8), std::uint64_t, std::uint32_t>;

}  // namespace

const Implementation bitslicedImplementation =
    cbcImplementation<BitslicedCore<MachineWord>>("bitsliced", anyCpu);

}  // namespace aes_cbc

#endif
