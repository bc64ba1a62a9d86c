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
// - Constant time: no branch and no memory address depends on key, IV or
//   data. On the first call the functions choose, once, the fastest
//   implementation the CPU allows: the AES instructions (VAES with AVX2 for
//   decryption on x86-64, AES-NI, the ARMv8 Cryptography Extension), else
//   vector permutes (SSSE3, NEON), else a bitsliced AES in plain C++, which
//   runs everywhere. The bytes are the same whichever runs;
//   aes_128_cbc_implementation() tells which one does.
// - Built with AES_CBC_IMPLEMENTATIONS=table, the functions use the
//   table-driven block cipher instead, on every CPU, as the block functions
//   of cipher/rijndael.hpp then do.
//   Its table lookups are indexed by key and data, so their timing is not
//   constant and can leak both to an attacker who shares the machine's
//   caches.
// - Not protected: CBC gives confidentiality only, no integrity (tampering
//   goes unnoticed without a MAC or an AEAD mode), and needs an unpredictable
//   IV for every message under one key. The length is not hidden.
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

// One message of the messages calls below: its own 16-byte IV, which the
// call advances as aes_128_cbc_encrypt_update and _decrypt_update do, and
// its data, whose whole blocks are transformed in place.
struct aes_128_cbc_message {
  std::uint8_t* iv;
  std::uint8_t* data;
  std::uint32_t length;
};

// The implementation that the two functions above, and the block functions
// of cipher/rijndael.hpp, use on this machine, for logs and bug reports: "vaes-avx2", "aes-ni",
// "armv8-aes", "ssse3", "neon", "bitsliced", or "table" in the table-only build. Never null.
AES128_EXPORT const char* aes_128_cbc_implementation() noexcept;
