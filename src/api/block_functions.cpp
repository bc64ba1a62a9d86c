// The public block functions: each call goes to the chosen implementation,
// the same as the CBC functions'.
#include "cipher/rijndael.hpp"

#include <cstdint>
#include <span>

#include "choice/choice.hpp"
#include "common/key_schedule.hpp"

static_assert(aes_128_key_bytes == aes128::blockBytes && aes_block_bytes == aes128::blockBytes &&
              aes_128_round_key_words == aes128::roundKeyWords);

void rijndaelKeySetupEnc(std::span<std::uint32_t, aes_128_round_key_words> roundKeys,
                         std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept {
  aes128::chosen().keySetupEnc(roundKeys, key);
}

void rijndaelEncrypt(std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
                     std::span<const std::uint8_t, aes_block_bytes> input,
                     std::span<std::uint8_t, aes_block_bytes> output) noexcept {
  aes128::chosen().encryptBlock(roundKeys, input, output);
}

void rijndaelKeySetupDec(std::span<std::uint32_t, aes_128_round_key_words> roundKeys,
                         std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept {
  aes128::chosen().keySetupDec(roundKeys, key);
}

void rijndaelDecrypt(std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
                     std::span<const std::uint8_t, aes_block_bytes> input,
                     std::span<std::uint8_t, aes_block_bytes> output) noexcept {
  aes128::chosen().decryptBlock(roundKeys, input, output);
}

void rijndaelEncryptBlocks(std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
                           const std::uint8_t* input, std::uint8_t* output,
                           std::uint32_t length) noexcept {
  aes128::chosen().encryptBlocks(roundKeys, input, output, length);
}

void rijndaelDecryptBlocks(std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
                           const std::uint8_t* input, std::uint8_t* output,
                           std::uint32_t length) noexcept {
  aes128::chosen().decryptBlocks(roundKeys, input, output, length);
}
