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
// - Where the CPU has AES instructions (AES-NI on x86 and x86-64, with VAES
//   and AVX2 on x86-64 for decryption, the ARMv8 Cryptography Extension on
//   AArch64) the calls use them, chosen at run time on the first call; else,
//   where it has a 16-byte byte shuffle (SSSE3, NEON), they compute AES with
//   vector permutes; elsewhere, and with AES_CBC_IMPLEMENTATIONS=table, they
//   use the table-driven block cipher of cipher/rijndael.hpp. The bytes are
//   the same either way; aes_128_cbc_implementation() tells which one runs.
// - Not protected: CBC gives confidentiality only, no integrity (tampering
//   goes unnoticed without a MAC or an AEAD mode), and needs an unpredictable
//   IV for every message under one key. With the AES instructions and with
//   vector permutes no memory access or branch depends on key or data; with
//   the table-driven cipher the table lookups do, so their timing is not
//   constant and can leak both to an attacker who shares the machine's
//   caches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/aes128_export.hpp"

AES128_EXPORT void aes_128_cbc_encrypt(std::span<const std::uint8_t, 16> key,
                                       std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                                       std::uint32_t length) noexcept;

AES128_EXPORT void aes_128_cbc_decrypt(std::span<const std::uint8_t, 16> key,
                                       std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                                       std::uint32_t length) noexcept;

// The implementation that the two functions above use on this machine, for
// logs and bug reports: "vaes-avx2", "aes-ni", "armv8-aes", "ssse3", "neon"
// or "table". Never null.
AES128_EXPORT const char* aes_128_cbc_implementation() noexcept;
