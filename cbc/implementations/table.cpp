// CBC over the table-driven block cipher: the portable implementation, which
// runs on every CPU.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "cbc/implementations.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cipher/rijndael.hpp"

namespace {

using Block = std::array<std::uint8_t, aes_block_bytes>;

// target[j] ^= source[j] over one block.
void xorBlock(std::uint8_t* target, const std::uint8_t* source) {
  for (std::size_t j = 0; j < aes_block_bytes; ++j) {
    target[j] ^= source[j];
  }
}

void encrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
             std::uint8_t* data, std::uint32_t length) noexcept {
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): the key setup writes every word
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys;
  Block chain;
  rijndaelKeySetupEnc(roundKeys, key);
  std::memcpy(chain.data(), iv.data(), chain.size());
  const std::uint32_t blocks = length / std::uint32_t{aes_block_bytes};
  for (std::uint32_t b = 0; b < blocks; ++b) {
    std::uint8_t* block = data + std::size_t{b} * aes_block_bytes;
    xorBlock(chain.data(), block);
    rijndaelEncrypt(roundKeys, chain, chain);
    std::memcpy(block, chain.data(), chain.size());
  }
  secure_wipe(roundKeys);
  secure_wipe(chain);
}

void decrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
             std::uint8_t* data, std::uint32_t length) noexcept {
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-member-init): the key setup writes every word
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys;
  Block chain;
  Block saved;
  rijndaelKeySetupDec(roundKeys, key);
  std::memcpy(chain.data(), iv.data(), chain.size());
  const std::uint32_t blocks = length / std::uint32_t{aes_block_bytes};
  for (std::uint32_t b = 0; b < blocks; ++b) {
    const std::span<std::uint8_t, aes_block_bytes> block(data + std::size_t{b} * aes_block_bytes,
                                                         aes_block_bytes);
    std::memcpy(saved.data(), block.data(), saved.size());
    rijndaelDecrypt(roundKeys, block, block);
    xorBlock(block.data(), chain.data());
    chain = saved;
  }
  secure_wipe(roundKeys);
  secure_wipe(chain);
  secure_wipe(saved);
}

bool everywhere() noexcept {
  return true;
}

}  // namespace

const aes_cbc::Implementation aes_cbc::tableImplementation{"table", everywhere, encrypt, decrypt};
