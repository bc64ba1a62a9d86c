// The field and the S-box of AES, as compile-time functions: GF(2^8) modulo
// x^8 + x^4 + x^3 + x + 1 (FIPS-197 section 4) and the S-box built from it
// (sections 5.1.1 and 5.3.2), the S-box and its inverse also as tables. The
// block cipher's tables are computed from these, and every other
// implementation checks the constants it derives against them. Internal to
// the library; nothing here is evaluated at run time.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace aes128 {

// Multiplication by x (that is, by 2).
constexpr std::uint8_t xtime(std::uint8_t a) {
  return static_cast<std::uint8_t>((unsigned{a} << 1U) ^ ((a & 0x80U) != 0 ? 0x1bU : 0U));
}

// Multiplication, shift-and-add.
constexpr std::uint8_t gmul(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  for (; b != 0; b = static_cast<std::uint8_t>(b >> 1), a = xtime(a)) {
    if ((b & 1U) != 0) {
      product ^= a;
    }
  }
  return product;
}

// Multiplicative inverse as a^254 (a^255 = 1 for a != 0); 0 maps to 0.
constexpr std::uint8_t inverse(std::uint8_t a) {
  std::uint8_t result = 1;
  for (int bit = 7; bit >= 0; --bit) {
    result = gmul(result, result);
    if (((254U >> bit) & 1U) != 0) {
      result = gmul(result, a);
    }
  }
  return a == 0 ? 0 : result;
}

// The constant of the S-box's affine transformation (section 5.1.1): S(0).
inline constexpr std::uint8_t sboxConstant = 0x63;

// Section 5.1.1: the inverse, then the affine transformation.
constexpr std::uint8_t sbox(std::uint8_t x) {
  const std::uint8_t b = inverse(x);
  return static_cast<std::uint8_t>(b ^ std::rotl(b, 1) ^ std::rotl(b, 2) ^ std::rotl(b, 3) ^
                                   std::rotl(b, 4) ^ sboxConstant);
}

// Section 5.3.2: the inverse of the affine transformation, then the inverse.
constexpr std::uint8_t inverseSbox(std::uint8_t x) {
  return inverse(
      static_cast<std::uint8_t>(std::rotl(x, 1) ^ std::rotl(x, 3) ^ std::rotl(x, 6) ^ 0x05U));
}

// The round constant of key expansion step i (section 5.2): x^i, the first
// byte of Rcon[i + 1].
constexpr std::uint8_t roundConstant(std::size_t step) {
  std::uint8_t value = 1;
  for (std::size_t n = 0; n < step; ++n) {
    value = xtime(value);
  }
  return value;
}

static_assert(roundConstant(0) == 0x01 && roundConstant(7) == 0x80 && roundConstant(8) == 0x1b &&
              roundConstant(9) == 0x36);
static_assert(sbox(0x00) == 0x63 && sbox(0x01) == 0x7c && sbox(0x53) == 0xed && sbox(0xff) == 0x16);
static_assert(inverseSbox(0x63) == 0x00 && inverseSbox(0x00) == 0x52 && inverseSbox(0xff) == 0x7d);

// Every byte's image under f, computed once: code that looks up thousands of
// bytes at compile time would otherwise repeat each derivation.
using ByteTable = std::array<std::uint8_t, 256>;
template <typename F>
constexpr ByteTable tabulate(F f) {
  ByteTable table{};
  for (unsigned x = 0; x < 256; ++x) {
    table[x] = f(static_cast<std::uint8_t>(x));
  }
  return table;
}

// The S-box as a table, and its inverse inverted from it; inverseSbox is the
// other road to the inverse, and the check below holds the two together.
inline constexpr ByteTable sboxTable = tabulate(sbox);
inline constexpr ByteTable inverseSboxTable = [] {
  ByteTable table{};
  for (unsigned x = 0; x < 256; ++x) {
    table[sboxTable[x]] = static_cast<std::uint8_t>(x);
  }
  return table;
}();

constexpr bool inverseSboxTableUndoesSbox() {
  for (unsigned x = 0; x < 256; ++x) {
    if (inverseSboxTable[sboxTable[x]] != x || sboxTable[inverseSboxTable[x]] != x ||
        inverseSboxTable[x] != inverseSbox(static_cast<std::uint8_t>(x))) {
      return false;
    }
  }
  return true;
}
static_assert(inverseSboxTableUndoesSbox(), "the inverse S-box must undo the S-box for all bytes");
// Published entries (FIPS-197 figures 7 and 14).
static_assert(sboxTable[0x00] == sboxConstant && sboxTable[0x01] == 0x7c &&
              sboxTable[0x53] == 0xed && sboxTable[0xff] == 0x16);
static_assert(inverseSboxTable[0x00] == 0x52 && inverseSboxTable[0x01] == 0x09 &&
              inverseSboxTable[0xff] == 0x7d);

}  // namespace aes128
