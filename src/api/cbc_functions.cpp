// The public CBC functions: each call goes to the chosen implementation,
// which aes_128_cbc_implementation names.
#include "cbc/aes_cbc.hpp"

#include <cstdint>
#include <span>

#include "choice/choice.hpp"
#include "common/secure_wipe.hpp"

void aes_128_cbc_encrypt(std::span<const std::uint8_t, aes_128_key_bytes> key,
                         std::span<const std::uint8_t, aes_block_bytes> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  aes128::chosen().encrypt(key, iv, data, length);
}

void aes_128_cbc_decrypt(std::span<const std::uint8_t, aes_128_key_bytes> key,
                         std::span<const std::uint8_t, aes_block_bytes> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  aes128::chosen().decrypt(key, iv, data, length);
}

// A kept key: the block functions' two schedules. Its arrays are made spans
// by hand: GCC 12 does not convert an array argument of a call through a
// function pointer.
void aes_128_cbc_key_setup(aes_128_cbc_key& keys,
                           std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept {
  const aes128::Implementation& implementation = aes128::chosen();
  implementation.keySetupEnc(aes128::OutputWords(keys.encryption), key);
  implementation.keySetupDec(aes128::OutputWords(keys.decryption), key);
}

void aes_128_cbc_key_wipe(aes_128_cbc_key& keys) noexcept {
  secureWipe(keys);
}

void aes_128_cbc_encrypt_update(const aes_128_cbc_key& keys,
                                std::span<std::uint8_t, aes_block_bytes> iv, std::uint8_t* data,
                                std::uint32_t length) noexcept {
  aes128::chosen().encryptUpdate(aes128::ConstWords(keys.encryption), iv, data, length);
}

void aes_128_cbc_decrypt_update(const aes_128_cbc_key& keys,
                                std::span<std::uint8_t, aes_block_bytes> iv, std::uint8_t* data,
                                std::uint32_t length) noexcept {
  aes128::chosen().decryptUpdate(aes128::ConstWords(keys.decryption), iv, data, length);
}

std::uint32_t aes_128_cbc_encrypt_pkcs7(const aes_128_cbc_key& keys,
                                        std::span<std::uint8_t, aes_block_bytes> iv,
                                        std::uint8_t* data, std::uint32_t length,
                                        std::uint32_t capacity) noexcept {
  return aes128::chosen().encryptPkcs7(aes128::ConstWords(keys.encryption), iv, data, length,
                                       capacity);
}

std::int64_t aes_128_cbc_decrypt_pkcs7(const aes_128_cbc_key& keys,
                                       std::span<std::uint8_t, aes_block_bytes> iv,
                                       std::uint8_t* data, std::uint32_t length) noexcept {
  return aes128::chosen().decryptPkcs7(aes128::ConstWords(keys.decryption), iv, data, length);
}

void aes_128_cbc_encrypt_messages(const aes_128_cbc_key& keys,
                                  std::span<const aes_128_cbc_message> messages) noexcept {
  aes128::chosen().encryptMessages(aes128::ConstWords(keys.encryption), messages);
}

void aes_128_cbc_decrypt_messages(const aes_128_cbc_key& keys,
                                  std::span<const aes_128_cbc_message> messages) noexcept {
  aes128::chosen().decryptMessages(aes128::ConstWords(keys.decryption), messages);
}

const char* aes_128_cbc_implementation() noexcept {
  return aes128::chosen().name;
}
