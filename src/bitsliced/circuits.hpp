// The S-box circuits of the bitsliced implementation of
// bitsliced/bitsliced.cpp, on bit-planes in words of any unsigned type (plane
// i: bit i of every byte), and the compile-time proof that they compute the
// S-box and its inverse. Plain constexpr code, compiled for no particular
// instructions.
//
// The gates are in bitsliced/sbox_gates.hpp, which tools/sbox_circuits.py
// writes (CI checks that the committed file is what it writes). The
// nonlinear middle is Boyar and Peralta's (the depth-16 circuit of "A
// depth-16 circuit for the AES S-box", 2012, with the 5-AND inversion in
// GF(2^4) of their earlier 113-gate circuit): 32 AND, 30 XOR. The linear
// layers above and below it are the script's: from FIPS-197 and the middle
// alone it finds the basis of GF(2^4) the middle computes in and builds
// GF(2^8) over it, which gives one top layer under which the middle inverts;
// of the equivalent ones (the input through x -> c x^(2^k)) it takes the one
// whose layers have the shortest XOR programs under Boyar and Peralta's
// shortest-linear-program heuristic, for the inverse S-box after the inverse
// affine transformation's linear part. The S-box constant 0x63 is left out
// of both circuits and added to the round keys instead (MixColumns and
// InvMixColumns map a column of equal bytes to itself). Gate counts: forward
// 114 (32 AND, 82 XOR), inverse 115 (32 AND, 83 XOR), no NOT.
#pragma once

#include <cstdint>

#include "bitsliced/sbox_gates.hpp"
#include "common/gf256.hpp"

namespace aes128::bitsliced {

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

// Both circuits against sbox and inverseSbox on all 256 inputs.
constexpr bool circuitsMatchTheSboxes() {
  for (unsigned first = 0; first < 256; first += 64) {
    const Planes<std::uint64_t> in = consecutiveBytes(first);
    const Planes<std::uint64_t> forward = subBytes(in);
    const Planes<std::uint64_t> inverse = invSubBytes(in);
    for (unsigned j = 0; j < 64; ++j) {
      const auto x = static_cast<std::uint8_t>(first + j);
      if ((byteOf(forward, j) ^ sboxConstant) != sbox(x) ||
          byteOf(inverse, j) != inverseSbox(static_cast<std::uint8_t>(x ^ sboxConstant))) {
        return false;
      }
    }
  }
  return true;
}

static_assert(circuitsMatchTheSboxes());

}  // namespace aes128::bitsliced
