// The public CBC functions: each call goes to the chosen implementation,
// which aes_128_cbc_implementation names.
#include "cbc/aes_cbc.hpp"

#include <cstdint>
#include <span>

#include "choice/choice.hpp"

void aes_128_cbc_encrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  aes128::chosen().encrypt(key, iv, data, length);
}

void aes_128_cbc_decrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  aes128::chosen().decrypt(key, iv, data, length);
}

const char* aes_128_cbc_implementation() noexcept {
  return aes128::chosen().name;
}
