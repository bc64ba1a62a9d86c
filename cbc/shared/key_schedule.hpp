// What the implementations' key schedules share: the round constants, and
// where each round key of the expansion goes in the hardware paths. Plain
// constexpr code, compiled for no particular instructions.
#pragma once

#include <cstddef>

namespace aes_cbc {

inline constexpr std::size_t roundKeyCount = 11;

// rcon of expansion step i is x^i in GF(2^8), FIPS-197 section 5.2: the value
// that goes into the first byte of the word.
constexpr unsigned roundConstant(std::size_t step) {
  unsigned value = 1;
  for (std::size_t n = 0; n < step; ++n) {
    value = (value << 1U) ^ ((value & 0x80U) != 0 ? 0x11bU : 0U);
  }
  return value;
}

static_assert(roundConstant(0) == 0x01 && roundConstant(7) == 0x80 && roundConstant(8) == 0x1b &&
              roundConstant(9) == 0x36);

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

}  // namespace aes_cbc
