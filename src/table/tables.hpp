// Round tables of AES-128, private to the block cipher.
//
// Every table is computed by the compiler from its definition: the GF(2^8)
// arithmetic and the S-box construction of common/gf256.hpp.
// Nothing here runs at program start; the static_asserts below pin the
// results to the published values.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "common/gf256.hpp"
#include "common/key_schedule.hpp"

namespace aes128 {

using Table = std::array<std::uint32_t, 256>;
// Column (m0·v, m1·v, m2·v, m3·v) for v = box[x], one entry per byte value x.
constexpr Table makeColumnTable(const ByteTable& box, std::uint8_t m0, std::uint8_t m1,
                                std::uint8_t m2, std::uint8_t m3) {
  Table t{};
  for (std::size_t x = 0; x < 256; ++x) {
    const std::uint8_t v = box[x];
    const std::array<std::uint8_t, 4> column{gmul(m0, v), gmul(m1, v), gmul(m2, v), gmul(m3, v)};
    t[x] = loadBigEndian(column.data());
  }
  return t;
}

constexpr Table rotateRight(const Table& source, int bits) {
  Table t{};
  for (std::size_t x = 0; x < 256; ++x) {
    t[x] = std::rotr(source[x], bits);
  }
  return t;
}

// The five tables of one direction side by side in one object: the cipher
// then reaches all of them from a single base register instead of one
// register per table, which leaves the registers to the state.
struct DirectionTables {
  Table t0;
  Table t1;
  Table t2;
  Table t3;
  Table sbox;
};

constexpr DirectionTables makeDirectionTables(const ByteTable& box, std::uint8_t m0,
                                              std::uint8_t m1, std::uint8_t m2, std::uint8_t m3) {
  const Table t0 = makeColumnTable(box, m0, m1, m2, m3);
  return {t0, rotateRight(t0, 8), rotateRight(t0, 16), rotateRight(t0, 24),
          makeColumnTable(box, 1, 1, 1, 1)};
}

// Encryption: SubBytes and MixColumns (2, 1, 1, 3) folded into one lookup;
// Te4 is the S-box in all four bytes, for the final encryption round, the key
// expansion and the S-box step of the decryption key schedule.
alignas(64) inline constexpr DirectionTables encryptionTables = makeDirectionTables(sboxTable, 2, 1,
                                                                                    1, 3);
inline constexpr const Table& Te0 = encryptionTables.t0;
inline constexpr const Table& Te1 = encryptionTables.t1;
inline constexpr const Table& Te2 = encryptionTables.t2;
inline constexpr const Table& Te3 = encryptionTables.t3;
inline constexpr const Table& Te4 = encryptionTables.sbox;

// Decryption: InvSubBytes and InvMixColumns (e, 9, d, b) folded together;
// Td4 is the inverse S-box in all four bytes, for the final round.
alignas(64) inline constexpr DirectionTables decryptionTables =
    makeDirectionTables(inverseSboxTable, 0x0e, 0x09, 0x0d, 0x0b);
inline constexpr const Table& Td0 = decryptionTables.t0;
inline constexpr const Table& Td1 = decryptionTables.t1;
inline constexpr const Table& Td2 = decryptionTables.t2;
inline constexpr const Table& Td3 = decryptionTables.t3;
inline constexpr const Table& Td4 = decryptionTables.sbox;

// Published entries (the usual T-table values).
static_assert(Te0[0] == 0xc66363a5U);
static_assert(Te1[0] == 0xa5c66363U);
static_assert(Te2[0] == 0x63a5c663U);
static_assert(Te3[0] == 0x6363a5c6U);
static_assert(Te4[0] == 0x63636363U && Te4[1] == 0x7c7c7c7cU);
static_assert(Td0[0] == 0x51f4a750U);
static_assert(Td1[0] == 0x5051f4a7U);
static_assert(Td2[0] == 0xa75051f4U);
static_assert(Td3[0] == 0xf4a75051U);
static_assert(Td4[0] == 0x52525252U && Td4[1] == 0x09090909U);

}  // namespace aes128
