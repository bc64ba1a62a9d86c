// Table-driven AES-128: key schedules and one-block transforms.
#include "cipher/rijndael.hpp"

#include <cstdint>
#include <span>

#include "cipher/table_cipher.hpp"

void rijndaelKeySetupEnc(std::span<std::uint32_t, aes_128_round_key_words> roundKeys,
                         std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept {
  table_cipher::keySetupEnc(roundKeys.data(), key.data());
}

void rijndaelEncrypt(std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
                     std::span<const std::uint8_t, aes_block_bytes> input,
                     std::span<std::uint8_t, aes_block_bytes> output) noexcept {
  table_cipher::cipherBlock<table_cipher::forward>(roundKeys.data(), input.data(), output.data());
}

void rijndaelKeySetupDec(std::span<std::uint32_t, aes_128_round_key_words> roundKeys,
                         std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept {
  table_cipher::keySetupDec(roundKeys.data(), key.data());
}

void rijndaelDecrypt(std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
                     std::span<const std::uint8_t, aes_block_bytes> input,
                     std::span<std::uint8_t, aes_block_bytes> output) noexcept {
  table_cipher::cipherBlock<table_cipher::inverse>(roundKeys.data(), input.data(), output.data());
}
