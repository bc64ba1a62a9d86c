// The calls with a kept key that the measurements make, the same for an
// implementation called directly (its entry's functions on the kept key's
// words) and for the public functions, so that one template measures both.
#pragma once

#include <cstdint>
#include <span>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "inputs.hpp"

using BenchIv = std::span<std::uint8_t, aes_block_bytes>;

// The key of inputs.hpp, kept, for one implementation's entry.
class ImplementationKeptKey {
 public:
  explicit ImplementationKeptKey(const aes128::Implementation& implementation)
      : implementation_(implementation) {
    implementation.keySetupEnc(aes128::OutputWords(keys_.encryption), benchKey);
    implementation.keySetupDec(aes128::OutputWords(keys_.decryption), benchKey);
  }
  void encryptUpdate(BenchIv iv, std::uint8_t* data, std::uint32_t length) const {
    implementation_.encryptUpdate(aes128::ConstWords(keys_.encryption), iv, data, length);
  }
  void decryptUpdate(BenchIv iv, std::uint8_t* data, std::uint32_t length) const {
    implementation_.decryptUpdate(aes128::ConstWords(keys_.decryption), iv, data, length);
  }
  std::uint32_t encryptPkcs7(BenchIv iv, std::uint8_t* data, std::uint32_t length,
                             std::uint32_t capacity) const {
    return implementation_.encryptPkcs7(aes128::ConstWords(keys_.encryption), iv, data, length,
                                        capacity);
  }
  std::int64_t decryptPkcs7(BenchIv iv, std::uint8_t* data, std::uint32_t length) const {
    return implementation_.decryptPkcs7(aes128::ConstWords(keys_.decryption), iv, data, length);
  }
  void encryptMessages(std::span<const aes_128_cbc_message> messages) const {
    implementation_.encryptMessages(aes128::ConstWords(keys_.encryption), messages);
  }
  void decryptMessages(std::span<const aes_128_cbc_message> messages) const {
    implementation_.decryptMessages(aes128::ConstWords(keys_.decryption), messages);
  }

 private:
  const aes128::Implementation& implementation_;
  aes_128_cbc_key keys_{};
};

// The same key through the public functions.
class PublicKeptKey {
 public:
  PublicKeptKey() { aes_128_cbc_key_setup(keys_, benchKey); }
  void encryptUpdate(BenchIv iv, std::uint8_t* data, std::uint32_t length) const {
    aes_128_cbc_encrypt_update(keys_, iv, data, length);
  }
  void decryptUpdate(BenchIv iv, std::uint8_t* data, std::uint32_t length) const {
    aes_128_cbc_decrypt_update(keys_, iv, data, length);
  }
  std::uint32_t encryptPkcs7(BenchIv iv, std::uint8_t* data, std::uint32_t length,
                             std::uint32_t capacity) const {
    return aes_128_cbc_encrypt_pkcs7(keys_, iv, data, length, capacity);
  }
  std::int64_t decryptPkcs7(BenchIv iv, std::uint8_t* data, std::uint32_t length) const {
    return aes_128_cbc_decrypt_pkcs7(keys_, iv, data, length);
  }
  void encryptMessages(std::span<const aes_128_cbc_message> messages) const {
    aes_128_cbc_encrypt_messages(keys_, messages);
  }
  void decryptMessages(std::span<const aes_128_cbc_message> messages) const {
    aes_128_cbc_decrypt_messages(keys_, messages);
  }

 private:
  aes_128_cbc_key keys_{};
};
