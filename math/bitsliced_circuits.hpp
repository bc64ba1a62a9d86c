// The S-box circuits of the bitsliced implementation (implementations/
// bitsliced.cpp), on bit-planes in words of any unsigned type (plane i: bit i
// of every byte), with the compile-time proofs that they compute the S-box
// and its inverse. Plain constexpr code, compiled for no particular
// instructions.
//
// The nonlinear middle is Boyar and Peralta's (the depth-16 circuit of "A
// depth-16 circuit for the AES S-box", 2012, with the 5-AND inversion in
// GF(2^4) of their earlier 113-gate circuit): 32 AND, 30 XOR. The linear
// layers above and below it were derived here from that circuit's linear
// maps, and for the inverse S-box from those maps composed with the inverse
// affine transformation, each written as a short XOR program found with Boyar
// and Peralta's shortest-linear-program heuristic. The affine constant 0x63 is
// left out of both circuits and added to the round keys instead (MixColumns
// and InvMixColumns map a column of equal bytes to itself). Gate counts:
// forward 116 (32 AND, 84 XOR), inverse 117 (32 AND, 85 XOR), no NOT. The
// static_asserts below check both against gf256::sbox and gf256::inverseSbox
// on all 256 inputs and the inverse's linear layers against the forward ones.
//
// The gates are listed in an order that keeps few values live at once: the
// compilers allocate registers largely in the order written, and the circuit
// holds more values than x86-64 has registers. The order was found by trying
// orders and counting the instructions GCC emits for the rounds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "math/gf256.hpp"

namespace aes_cbc::bitsliced {

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

}  // namespace aes_cbc::bitsliced
