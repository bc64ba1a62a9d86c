// The inputs every measurement uses. The table lookups cost the same for any
// bytes (all tables stay in the first-level cache), so fixed values make the
// runs comparable without a random generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cipher/rijndael.hpp"

// The key of FIPS-197 Appendix A.1, the IV of NIST SP 800-38A F.2.1, and
// the input block of FIPS-197 Appendix B.
inline constexpr std::array<std::uint8_t, aes_128_key_bytes> benchKey{
    0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
inline constexpr std::array<std::uint8_t, aes_block_bytes> benchIv{
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
inline constexpr std::array<std::uint8_t, aes_block_bytes> benchBlock{
    0x32, 0x43, 0xf6, 0xa8, 0x88, 0x5a, 0x30, 0x8d, 0x31, 0x31, 0x98, 0xa2, 0xe0, 0x37, 0x07, 0x34};

// A message of `length` bytes that is not all one value.
inline std::vector<std::uint8_t> benchMessage(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
  }
  return bytes;
}
