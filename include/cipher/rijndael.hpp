// AES-128 block cipher (Rijndael with a 128-bit key and block, 10 rounds),
// FIPS-197.
//
// Conventions for callers:
// - Keys and blocks are 16 bytes, round-key arrays 44 words; the sizes are in
//   the types, so plain arrays (std::uint8_t key[16], std::uint32_t rk[44])
//   and std::array of those sizes pass directly and a wrong size does not
//   compile.
// - rijndaelKeySetupEnc/Dec write all 44 words of `roundKeys` and only read
//   `key`. rijndaelEncrypt/Decrypt only read `roundKeys` and `input` and write
//   the 16 bytes of `output`; `input` and `output` may be the same buffer
//   (all input is read before any output is written), but must not overlap
//   otherwise.
// - The round-key arrays have the layouts documented below on every machine
//   and in every build: they may be stored, compared or sent elsewhere, and
//   rijndaelEncrypt/Decrypt use all 44 words they are given, whatever they
//   hold, as the cipher's round keys.
// - The two schedules are not interchangeable: an array from
//   rijndaelKeySetupEnc is for rijndaelEncrypt only, one from
//   rijndaelKeySetupDec for rijndaelDecrypt only. Nothing marks which is which.
// - Nothing fails, throws, allocates or keeps state between calls; any number
//   of threads may call at once on separate output buffers.
// - Constant time: no branch and no memory address depends on key, round
//   keys or data. The functions run on the implementation that the CBC
//   functions of cbc/aes_cbc.hpp choose for this CPU (the AES instructions,
//   else vector permutes, else a bitsliced AES in plain C++), which
//   aes_128_cbc_implementation() names; each call keeps nothing of the round
//   keys in memory. Built with AES_CBC_IMPLEMENTATIONS=table, they are the
//   table-driven cipher instead, whose lookups are indexed by key and data:
//   their timing can leak both to an attacker sharing the machine's caches.
// - The round keys are key material: the caller owns them and must wipe
//   them when done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cipher/aes128_export.hpp"

inline constexpr std::size_t aes_128_key_bytes = 16;
inline constexpr std::size_t aes_block_bytes = 16;
inline constexpr std::size_t aes_128_round_key_words = 44;

// Key expansion, FIPS-197 section 5.2: round key r in words 4r to 4r+3,
// words 0 to 3 are the key itself, bytes packed big-endian.
AES128_EXPORT void rijndaelKeySetupEnc(
    std::span<std::uint32_t, aes_128_round_key_words> roundKeys,
    std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept;

// Enciphers one block with an array from rijndaelKeySetupEnc.
AES128_EXPORT void rijndaelEncrypt(
    std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
    std::span<const std::uint8_t, aes_block_bytes> input,
    std::span<std::uint8_t, aes_block_bytes> output) noexcept;

// Round keys for the equivalent inverse cipher, FIPS-197 section 5.3.5: the
// encryption round keys in reverse order, rounds 1 to 9 through InvMixColumns.
AES128_EXPORT void rijndaelKeySetupDec(
    std::span<std::uint32_t, aes_128_round_key_words> roundKeys,
    std::span<const std::uint8_t, aes_128_key_bytes> key) noexcept;

// Deciphers one block with an array from rijndaelKeySetupDec.
AES128_EXPORT void rijndaelDecrypt(
    std::span<const std::uint32_t, aes_128_round_key_words> roundKeys,
    std::span<const std::uint8_t, aes_block_bytes> input,
    std::span<std::uint8_t, aes_block_bytes> output) noexcept;

// The whole blocks of input[0, length) through the cipher into output, each
// block on its own (ECB; the blocks of a mode of your own such as CTR's
// counter blocks), many at a time: as fast as the implementation takes
// independent blocks, which is several times one rijndaelEncrypt call a
// block. The round keys are those of the one-block functions, read once a
// call. `input` and `output` are the same buffer or do not overlap. The
// trailing length % 16 bytes are neither read nor written; either pointer
// may be null when length is below 16.
AES128_EXPORT void rijndaelEncryptBlocks(
    std::span<const std::uint32_t, aes_128_round_key_words> roundKeys, const std::uint8_t* input,
    std::uint8_t* output, std::uint32_t length) noexcept;

AES128_EXPORT void rijndaelDecryptBlocks(
    std::span<const std::uint32_t, aes_128_round_key_words> roundKeys, const std::uint8_t* input,
    std::uint8_t* output, std::uint32_t length) noexcept;
