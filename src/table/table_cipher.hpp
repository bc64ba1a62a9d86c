// The table-driven AES-128 of FIPS-197: the rounds on a state of four
// big-endian words, each round four lookups per column in the tables of
// table/tables.hpp, and the steps of key expansion, which the table core
// (table/table.cpp) puts together through modes/key_expansion.hpp. Its
// lookups are indexed by key and data. Internal: the block functions of
// cipher/rijndael.hpp and the table core of the CBC functions are made of it.
// Not installed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/key_schedule.hpp"
#include "table/tables.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if defined(_MSC_VER) && !defined(__clang__)
#define AES128_ALWAYS_INLINE __forceinline
#else
#define AES128_ALWAYS_INLINE [[gnu::always_inline]] inline
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)

namespace aes128 {

using State = std::array<std::uint32_t, 4>;

// The four round tables and the S-box table of one direction, and how far
// apart the columns are that feed one output column: encryption takes bytes
// from columns k, k+1, k+2, k+3 (ShiftRows), decryption from k, k-1, k-2, k-3
// (InvShiftRows), which modulo 4 is a step of 3.
struct Direction {
  const DirectionTables& tables;
  unsigned step;
};

inline constexpr Direction encryptionDirection{encryptionTables, 1};
inline constexpr Direction decryptionDirection{decryptionTables, 3};

// Byte n of w, counted from the least significant, as a table index. A cast
// rather than a mask: with "& 0xff", GCC 12 picks the high-byte registers and
// follows each with a needless zero-extension (12 more instructions a block).
template <unsigned n>
AES128_ALWAYS_INLINE std::uint8_t byteAt(std::uint32_t w) {
  return static_cast<std::uint8_t>(w >> (8 * n));
}

// One output column of a full round: byte 3 of a, byte 2 of b, byte 1 of c,
// byte 0 of d, each through its round table, plus the round-key word.
template <const Direction& D>
AES128_ALWAYS_INLINE std::uint32_t roundColumn(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                               std::uint32_t d, std::uint32_t roundKey) {
  const DirectionTables& tables = D.tables;
  return tables.t0[byteAt<3>(a)] ^ tables.t1[byteAt<2>(b)] ^ tables.t2[byteAt<1>(c)] ^
         tables.t3[byteAt<0>(d)] ^ roundKey;
}

// The same bytes through the S-box alone (no MixColumns): the last round.
template <const Direction& D>
AES128_ALWAYS_INLINE std::uint32_t finalColumn(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                               std::uint32_t d, std::uint32_t roundKey) {
  const Table& sbox = D.tables.sbox;
  return (sbox[byteAt<3>(a)] & 0xff000000U) ^ (sbox[byteAt<2>(b)] & 0x00ff0000U) ^
         (sbox[byteAt<1>(c)] & 0x0000ff00U) ^ (sbox[byteAt<0>(d)] & 0x000000ffU) ^ roundKey;
}

template <const Direction& D, auto column>
AES128_ALWAYS_INLINE void round(const State& s, State& t, const std::uint32_t* roundKey) {
  constexpr unsigned k1 = D.step % 4;
  constexpr unsigned k2 = (2 * D.step) % 4;
  constexpr unsigned k3 = (3 * D.step) % 4;
  t[0] = column(s[0], s[k1], s[k2], s[k3], roundKey[0]);
  t[1] = column(s[1], s[(1 + k1) % 4], s[(1 + k2) % 4], s[(1 + k3) % 4], roundKey[1]);
  t[2] = column(s[2], s[(2 + k1) % 4], s[(2 + k2) % 4], s[(2 + k3) % 4], roundKey[2]);
  t[3] = column(s[3], s[(3 + k1) % 4], s[(3 + k2) % 4], s[(3 + k3) % 4], roundKey[3]);
}

AES128_ALWAYS_INLINE State loadState(const std::uint8_t* bytes) {
  return {loadBigEndian(bytes), loadBigEndian(bytes + 4), loadBigEndian(bytes + 8),
          loadBigEndian(bytes + 12)};
}

AES128_ALWAYS_INLINE void storeState(std::uint8_t* bytes, const State& s) {
  storeBigEndian(bytes, s[0]);
  storeBigEndian(bytes + 4, s[1]);
  storeBigEndian(bytes + 8, s[2]);
  storeBigEndian(bytes + 12, s[3]);
}

// Ten rounds written out, the state alternating between s and t so that no
// round copies it.
template <const Direction& D>
AES128_ALWAYS_INLINE State cipherState(const std::uint32_t* rk, State s) {
  constexpr auto full = roundColumn<D>;
  constexpr auto last = finalColumn<D>;
  s = {s[0] ^ rk[0], s[1] ^ rk[1], s[2] ^ rk[2], s[3] ^ rk[3]};
  State t;
  round<D, full>(s, t, rk + 4);
  round<D, full>(t, s, rk + 8);
  round<D, full>(s, t, rk + 12);
  round<D, full>(t, s, rk + 16);
  round<D, full>(s, t, rk + 20);
  round<D, full>(t, s, rk + 24);
  round<D, full>(s, t, rk + 28);
  round<D, full>(t, s, rk + 32);
  round<D, full>(s, t, rk + 36);
  round<D, last>(t, s, rk + 40);
  return s;
}

// Reads all of `input` before writing `output`, so the two may be the same
// buffer.
template <const Direction& D>
AES128_ALWAYS_INLINE void cipherBlock(const std::uint32_t* rk, const std::uint8_t* input,
                                      std::uint8_t* output) {
  storeState(output, cipherState<D>(rk, loadState(input)));
}

// InvMixColumns of one round-key word: the S-box (low byte of Te4) first,
// so that the inverse S-box folded into Td0..Td3 cancels it.
AES128_ALWAYS_INLINE std::uint32_t invMixColumnByTables(std::uint32_t w) {
  return Td0[byteAt<0>(Te4[byteAt<3>(w)])] ^ Td1[byteAt<0>(Te4[byteAt<2>(w)])] ^
         Td2[byteAt<0>(Te4[byteAt<1>(w)])] ^ Td3[byteAt<0>(Te4[byteAt<0>(w)])];
}

// SubWord(RotWord(w)) of FIPS-197 section 5.2: w rotated left by 8 bits,
// each byte then through the S-box.
AES128_ALWAYS_INLINE std::uint32_t subRotWord(std::uint32_t w) {
  return (Te4[byteAt<2>(w)] & 0xff000000U) ^ (Te4[byteAt<1>(w)] & 0x00ff0000U) ^
         (Te4[byteAt<0>(w)] & 0x0000ff00U) ^ (Te4[byteAt<3>(w)] & 0x000000ffU);
}

// Word by word: copied as a block, GCC 12 packs the four words into vector
// or 64-bit registers first, at a dozen extra instructions per round key.
AES128_ALWAYS_INLINE void storeRoundKey(const State& w, std::uint32_t* rk) {
  rk[0] = w[0];
  rk[1] = w[1];
  rk[2] = w[2];
  rk[3] = w[3];
}

// Expansion step i: round key i+1 from round key i, in place in `w`; the
// round constant in the most significant byte, an immediate.
template <std::size_t i>
AES128_ALWAYS_INLINE void expansionStep(State& w) {
  w[0] ^= subRotWord(w[3]) ^ (std::uint32_t{roundConstant(i)} << 24);
  w[1] ^= w[0];
  w[2] ^= w[1];
  w[3] ^= w[2];
}

}  // namespace aes128
