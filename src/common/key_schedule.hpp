// What the implementations' key schedules share: the sizes, the round
// constants, where each round key of the expansion goes, the documented
// word layout of the block functions' round-key arrays, and the column mixes
// on those words. Plain constexpr code, compiled for no particular
// instructions; the arithmetic has no branch and no lookup.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/gf256.hpp"

namespace aes128 {

inline constexpr std::size_t blockBytes = 16;
inline constexpr std::size_t roundKeyCount = 11;
// The block functions' round-key arrays: round key r in words 4r to 4r+3,
// each word four bytes of the key, the first the most significant.
inline constexpr std::size_t roundKeyWords = 4 * roundKeyCount;

// The arrays the public functions take, their sizes in their types: a key, an
// IV or a block read (ConstBytes) or written (OutputBytes); a round-key array
// read (ConstWords) or written (OutputWords).
using ConstBytes = std::span<const std::uint8_t, blockBytes>;
using OutputBytes = std::span<std::uint8_t, blockBytes>;
using ConstWords = std::span<const std::uint32_t, roundKeyWords>;
using OutputWords = std::span<std::uint32_t, roundKeyWords>;

enum class Schedule { encryption, decryption };

// The equivalent inverse cipher of FIPS-197 section 5.3.5 takes the round
// keys in reverse order, and all but the first and the last through
// InvMixColumns.
constexpr std::size_t placeOf(Schedule schedule, std::size_t roundKey) {
  return schedule == Schedule::encryption ? roundKey : roundKeyCount - 1 - roundKey;
}

constexpr bool throughInvMixColumns(Schedule schedule, std::size_t roundKey) {
  return schedule == Schedule::decryption && roundKey != 0 && roundKey != roundKeyCount - 1;
}

// --- Round keys as words ------------------------------------------------------

// Four bytes as a word, the first the most significant, and back: by shifts,
// so the same on every host byte order. GCC and Clang see one load or store
// and a byte swap in each; always inlined, as the table cipher's rounds use
// them on every block.
[[gnu::always_inline]] constexpr std::uint32_t loadBigEndian(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

[[gnu::always_inline]] constexpr void storeBigEndian(std::uint8_t* bytes, std::uint32_t word) {
  bytes[0] = static_cast<std::uint8_t>(word >> 24);
  bytes[1] = static_cast<std::uint8_t>(word >> 16);
  bytes[2] = static_cast<std::uint8_t>(word >> 8);
  bytes[3] = static_cast<std::uint8_t>(word);
}

// xtime (multiplication by x, FIPS-197 section 4.2.1) of the four bytes of a
// word at once.
constexpr std::uint32_t xtimeEachByte(std::uint32_t word) {
  return ((word & 0x7f7f7f7fU) << 1) ^ (((word >> 7) & 0x01010101U) * 0x1bU);
}

// The column c of a state as a word, row 0 most significant: row r + k of it
// moved to row r.
template <unsigned k>
constexpr std::uint32_t rowsDown(std::uint32_t column) {
  return (column << (8 * k)) | (column >> ((32 - 8 * k) % 32));
}

// MixColumns of one column (section 5.1.3): b_r = {02}a_r + {03}a_r+1 +
// a_r+2 + a_r+3.
constexpr std::uint32_t mixColumn(std::uint32_t a) {
  const std::uint32_t a1 = rowsDown<1>(a);
  return xtimeEachByte(a ^ a1) ^ a1 ^ rowsDown<2>(a) ^ rowsDown<3>(a);
}

// InvMixColumns of one column (section 5.3.3). Its polynomial is MixColumns'
// times {04}x^2 + {05}: MixColumns of a + {04}(a + a two rows down).
constexpr std::uint32_t invMixColumn(std::uint32_t a) {
  return mixColumn(a ^ xtimeEachByte(xtimeEachByte(a ^ rowsDown<2>(a))));
}

constexpr bool columnMixesMatchTheirMatrices() {
  constexpr std::array<std::uint32_t, 4> columns{0xdb135345U, 0xf20a225cU, 0x01010101U,
                                                 0x2d26314cU};
  for (const std::uint32_t column : columns) {
    std::uint8_t a[4];
    storeBigEndian(a, column);
    std::uint8_t mixed[4];
    std::uint8_t unmixed[4];
    for (unsigned r = 0; r < 4; ++r) {
      const auto row = [&](unsigned down) { return a[(r + down) % 4]; };
      mixed[r] = static_cast<std::uint8_t>(gmul(2, row(0)) ^ gmul(3, row(1)) ^ row(2) ^ row(3));
      unmixed[r] = static_cast<std::uint8_t>(gmul(14, row(0)) ^ gmul(11, row(1)) ^
                                             gmul(13, row(2)) ^ gmul(9, row(3)));
    }
    if (mixColumn(column) != loadBigEndian(mixed) ||
        invMixColumn(column) != loadBigEndian(unmixed) ||
        invMixColumn(mixColumn(column)) != column) {
      return false;
    }
  }
  return true;
}
// The first two columns are FIPS-197's own MixColumns examples.
static_assert(mixColumn(0xdb135345U) == 0x8e4da1bcU && mixColumn(0xf20a225cU) == 0x9fdc589dU);
static_assert(columnMixesMatchTheirMatrices());

}  // namespace aes128
