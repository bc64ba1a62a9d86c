// A plain AES-128 written straight from FIPS-197, the yardstick the library is
// checked against. Byte-oriented state, one function per transformation, the
// S-box computed from its definition; slow but easy to read against the
// standard. It shares no code or tables with the library on purpose: a fault
// copied into both would go unseen.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace reference {

using Block = std::array<std::uint8_t, 16>;
// One key-schedule word w[i] or one state column, first byte first.
using Word = std::array<std::uint8_t, 4>;
using KeySchedule = std::array<Word, 44>;

// Key expansion, FIPS-197 section 5.2.
KeySchedule expandKey(std::span<const std::uint8_t, 16> key);

// Cipher (section 5.1) and InvCipher (section 5.3) of one block.
Block encryptBlock(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> input);
Block decryptBlock(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> input);

// The block functions' round-key words taken as they stand, whatever they
// hold: the cipher over w[0..43] packed big-endian (round key r in words 4r
// to 4r+3, first byte most significant), and the equivalent inverse cipher
// (section 5.3.5) over round keys in the order it uses them.
Block encryptWithWords(std::span<const std::uint32_t, 44> words,
                       std::span<const std::uint8_t, 16> input);
Block decryptWithWords(std::span<const std::uint32_t, 44> words,
                       std::span<const std::uint8_t, 16> input);

// InvMixColumns (section 5.3.3) of one column.
Word invMixColumn(const Word& column);

// CBC (NIST SP 800-38A section 6.2) in place; `data` must hold whole blocks,
// otherwise std::invalid_argument is thrown.
void cbcEncrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
                std::span<std::uint8_t> data);
void cbcDecrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
                std::span<std::uint8_t> data);

}  // namespace reference
