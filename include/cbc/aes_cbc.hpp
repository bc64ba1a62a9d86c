// AES-128 in CBC mode (NIST SP 800-38A, as RFC 3602 applies it), in place
// over the whole 16-byte blocks of a buffer.
//
// Conventions for callers:
// - Keys and IVs are 16 bytes (aes_128_key_bytes, aes_block_bytes of
//   cipher/rijndael.hpp), in the types: a wrong size does not compile.
// - One-shot calls (aes_128_cbc_encrypt/decrypt) take `key` and `iv`, only
//   read, and read on every call even when there is no whole block. The IV
//   is copied, so the same buffer serves again for decryption. Each call
//   expands the key itself and wipes its round keys and chaining blocks
//   before it returns; nothing is kept between calls.
// - A kept key (aes_128_cbc_key, from aes_128_cbc_key_setup) serves any
//   number of calls; the caller owns it and wipes it with
//   aes_128_cbc_key_wipe. The update and PKCS#7 calls take it and an `iv`
//   that they advance: on return it holds the last ciphertext block, so a
//   message cut into pieces of whole blocks at any points gives the same
//   bytes as one call.
// - `data` is transformed in place: its first length / 16 whole blocks are
//   replaced. The trailing length % 16 bytes are neither read nor written, so
//   after encryption they are still plaintext. Only the PKCS#7 calls pad;
//   `data` may be null when `length` is below 16 (and for the PKCS#7
//   encryption when `capacity` is 0).
// - Nothing throws or allocates. A wrong key or IV simply yields wrong
//   bytes; the PKCS#7 calls say when a length does not fit or the padding is
//   wrong. Calls on separate buffers (and IVs) may run on several threads at
//   once, with one kept key shared.
// - Constant time: no branch and no memory address depends on key, IV or
//   data, nor, in the PKCS#7 decryption, on the padding or on whether it is
//   right. On the first call the functions choose, once, the fastest
//   implementation the CPU allows: the AES instructions (VAES with AVX2 for
//   decryption on x86-64, AES-NI, the ARMv8 Cryptography Extension), else
//   vector permutes (SSSE3, NEON), else a bitsliced AES in plain C++, which
//   runs everywhere. The bytes are the same whichever runs;
//   aes_128_cbc_implementation() tells which one does.
// - Built with AES_CBC_IMPLEMENTATIONS=table, the functions use the
//   table-driven block cipher instead, on every CPU, as the block functions
//   of cipher/rijndael.hpp then do. Its table lookups are indexed by key and
//   data, so their timing is not constant and can leak both to an attacker
//   who shares the machine's caches.
// - Not protected: CBC gives confidentiality only, no integrity (tampering
//   goes unnoticed without a MAC or an AEAD mode), and needs an unpredictable
//   IV for every message under one key. The length is not hidden. A failed
//   padding check must not be told to anyone before the ciphertext is
//   authenticated (SECURITY.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/aes128_export.hpp"
#include "cipher/rijndael.hpp"

AES128_EXPORT void aes_128_cbc_encrypt(std::span<const std::uint8_t, aes_128_key_bytes> key,
                                       std::span<const std::uint8_t, aes_block_bytes> iv,
                                       std::uint8_t* data, std::uint32_t length) noexcept;

AES128_EXPORT void aes_128_cbc_decrypt(std::span<const std::uint8_t, aes_128_key_bytes> key,
                                       std::span<const std::uint8_t, aes_block_bytes> iv,
                                       std::uint8_t* data, std::uint32_t length) noexcept;

// Both round-key schedules of one key, in the block functions' documented
// layouts (FIPS-197 section 5.2; the equivalent inverse cipher's, 5.3.5).
struct aes_128_cbc_key {
  std::uint32_t encryption[aes_128_round_key_words];
  std::uint32_t decryption[aes_128_round_key_words];
};

AES128_EXPORT void aes_128_cbc_key_setup(
    aes_128_cbc_key& keys, std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept;

// Zeroes both schedules, with stores the optimiser cannot drop.
AES128_EXPORT void aes_128_cbc_key_wipe(aes_128_cbc_key& keys) noexcept;

// The whole blocks of data in place, chained from iv; on return iv holds the
// last ciphertext block (before decryption overwrote it), so the next call
// continues the same message.
AES128_EXPORT void aes_128_cbc_encrypt_update(const aes_128_cbc_key& keys,
                                              std::span<std::uint8_t, aes_block_bytes> iv,
                                              std::uint8_t* data, std::uint32_t length) noexcept;
AES128_EXPORT void aes_128_cbc_decrypt_update(const aes_128_cbc_key& keys,
                                              std::span<std::uint8_t, aes_block_bytes> iv,
                                              std::uint8_t* data, std::uint32_t length) noexcept;

// The last piece of a message, or a whole one, with PKCS#7 padding (RFC 5652
// section 6.3). Encrypt: pads data[0, length) to (length / 16 + 1) * 16 bytes
// and encrypts them; returns that length, or 0 with nothing written and iv
// unchanged where it exceeds capacity (or does not fit in 32 bits). Decrypt:
// length a positive multiple of 16; returns the plaintext length, or -1
// where length is not such a multiple (nothing touched) or the padding is
// wrong (then the buffer holds no plaintext: it is zeroed). Once the length
// is right, iv is advanced as by the update, padding right or wrong: the
// ciphertext was consumed, and iv tells nothing of the padding.
AES128_EXPORT std::uint32_t aes_128_cbc_encrypt_pkcs7(const aes_128_cbc_key& keys,
                                                      std::span<std::uint8_t, aes_block_bytes> iv,
                                                      std::uint8_t* data, std::uint32_t length,
                                                      std::uint32_t capacity) noexcept;
AES128_EXPORT std::int64_t aes_128_cbc_decrypt_pkcs7(const aes_128_cbc_key& keys,
                                                     std::span<std::uint8_t, aes_block_bytes> iv,
                                                     std::uint8_t* data,
                                                     std::uint32_t length) noexcept;

// Independent messages under one key, each with its own 16-byte IV, which
// the call advances as the update calls do, processed together: a call over
// many messages costs less than an update call for each, as far as the
// implementation can work on several messages at once (encryption, whose
// blocks within one message wait for each other). Any lengths (the trailing
// length % 16 bytes of each are neither read nor written; data may be null
// below 16), any count; an empty span does nothing. Messages must not share
// bytes, neither data nor IVs: the result is undefined where they do.
struct aes_128_cbc_message {
  std::uint8_t* iv;
  std::uint8_t* data;
  std::uint32_t length;
};

AES128_EXPORT void aes_128_cbc_encrypt_messages(
    const aes_128_cbc_key& keys, std::span<const aes_128_cbc_message> messages) noexcept;
AES128_EXPORT void aes_128_cbc_decrypt_messages(
    const aes_128_cbc_key& keys, std::span<const aes_128_cbc_message> messages) noexcept;

// The implementation that the functions above, and the block functions of
// cipher/rijndael.hpp, use on this machine, for logs and bug reports:
// "vaes-avx2", "aes-ni", "armv8-aes", "ssse3", "neon", "bitsliced", or
// "table" in the table-only build. Never null.
AES128_EXPORT const char* aes_128_cbc_implementation() noexcept;
