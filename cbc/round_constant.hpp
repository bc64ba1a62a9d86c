// The round constants of the AES key expansion, for the hardware
// implementations: rcon of step i is x^i in GF(2^8), FIPS-197 section 5.2,
// the value that goes into the first byte of the word. Plain constexpr code,
// compiled for no particular instructions.
#pragma once

#include <cstddef>

namespace aes_cbc {

constexpr unsigned roundConstant(std::size_t step) {
  unsigned value = 1;
  for (std::size_t n = 0; n < step; ++n) {
    value = (value << 1U) ^ ((value & 0x80U) != 0 ? 0x11bU : 0U);
  }
  return value;
}

static_assert(roundConstant(0) == 0x01 && roundConstant(7) == 0x80 &&
              roundConstant(8) == 0x1b && roundConstant(9) == 0x36);

}  // namespace aes_cbc
