// AES-128 in CBC mode (NIST SP 800-38A, as RFC 3602 applies it), in place
// over the whole 16-byte blocks of a buffer.
//
// Conventions for callers:
// - `key` and `iv` are 16 bytes each, only read, and read on every call even
//   when there is no whole block. The IV is copied, so the same buffer serves
//   again for decryption.
// - `data` is transformed in place: its first length / 16 whole blocks are
//   replaced. The trailing length % 16 bytes are neither read nor written, so
//   after encryption they are still plaintext. Nothing is padded; `data` may
//   be null when `length` is below 16.
// - Each call expands the key itself and wipes its round keys and chaining
//   blocks before it returns; nothing is kept between calls.
// - Nothing fails, throws or allocates. A wrong key or IV simply yields wrong
//   bytes. Calls on separate buffers may run on several threads at once.
// - Not protected: CBC gives confidentiality only, no integrity (tampering
//   goes unnoticed without a MAC or an AEAD mode), and needs an unpredictable
//   IV for every message under one key. The cipher's table lookups depend on
//   key and data, so their timing is not constant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

void aes_128_cbc_encrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept;

void aes_128_cbc_decrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept;
