// A CBC layer with one deliberate fault, linked in place of the real one to
// drive example4 down its failure paths. CBC_FAULT_FLIP_CIPHERTEXT_BIT (0/1)
// spoils encryption by flipping the low bit of each block's last byte;
// CBC_FAULT_SKIP_CHAIN_XOR (0/1) spoils decryption by leaving out the final
// XOR with the chaining block. Everything else is correct CBC.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cbc/aes_cbc.hpp"
#include "cipher/rijndael.hpp"

namespace {

constexpr bool flipCiphertextBit = CBC_FAULT_FLIP_CIPHERTEXT_BIT != 0;
constexpr bool skipChainXor = CBC_FAULT_SKIP_CHAIN_XOR != 0;

using Block = std::array<std::uint8_t, aes_block_bytes>;

void xorInto(std::span<std::uint8_t, aes_block_bytes> target, const Block& source) {
  for (std::size_t i = 0; i < aes_block_bytes; ++i) {
    target[i] ^= source[i];
  }
}

std::span<std::uint8_t, aes_block_bytes> blockAt(std::uint8_t* data, std::uint32_t index) {
  return std::span<std::uint8_t, aes_block_bytes>(data + std::size_t{index} * aes_block_bytes,
                                                  aes_block_bytes);
}

Block copyOf(std::span<const std::uint8_t, aes_block_bytes> bytes) {
  Block copy;
  std::copy(bytes.begin(), bytes.end(), copy.begin());
  return copy;
}

}  // namespace

void aes_128_cbc_encrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  rijndaelKeySetupEnc(roundKeys, key);
  Block chain = copyOf(iv);
  for (std::uint32_t b = 0; b < length / aes_block_bytes; ++b) {
    const auto block = blockAt(data, b);
    xorInto(block, chain);
    rijndaelEncrypt(roundKeys, block, block);
    chain = copyOf(block);
    if (flipCiphertextBit) {
      block.back() ^= 0x01;
    }
  }
}

void aes_128_cbc_decrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  rijndaelKeySetupDec(roundKeys, key);
  Block chain = copyOf(iv);
  for (std::uint32_t b = 0; b < length / aes_block_bytes; ++b) {
    const auto block = blockAt(data, b);
    const Block saved = copyOf(block);
    rijndaelDecrypt(roundKeys, block, block);
    if (!skipChainXor) {
      xorInto(block, chain);
    }
    chain = saved;
  }
}
