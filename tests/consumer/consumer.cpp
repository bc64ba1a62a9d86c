// Uses the installed library on RFC 3602 section 4, Case #2 (two blocks):
// the CBC ciphertext, the round trip, the first block through the
// block-level API, and with a kept key the two blocks as two updates and a
// PKCS#7 round trip. Exit status 0 only when all match.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

#include "cbc/aes_cbc.hpp"
#include "cipher/rijndael.hpp"

namespace {

constexpr std::size_t caseBytes = 32;
using Bytes = std::array<std::uint8_t, caseBytes>;

constexpr std::array<std::uint8_t, 16> caseKey = {0xc2, 0x86, 0x69, 0x6d, 0x88, 0x7c, 0x9a, 0xa0,
                                                  0x61, 0x1b, 0xbb, 0x3e, 0x20, 0x25, 0xa4, 0x5a};
constexpr std::array<std::uint8_t, 16> caseIv = {0x56, 0x2e, 0x17, 0x99, 0x6d, 0x09, 0x3d, 0x28,
                                                 0xdd, 0xb3, 0xba, 0x69, 0x5a, 0x2e, 0x6f, 0x58};
constexpr Bytes casePlaintext = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a,
                                 0x0b, 0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15,
                                 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};
constexpr Bytes caseCiphertext = {0xd2, 0x96, 0xcd, 0x94, 0xc2, 0xcc, 0xcf, 0x8a, 0x3a, 0x86, 0x30,
                                  0x28, 0xb5, 0xe1, 0xdc, 0x0a, 0x75, 0x86, 0x60, 0x2d, 0x25, 0x3c,
                                  0xff, 0xf9, 0x1b, 0x82, 0x66, 0xbe, 0xa6, 0xd6, 0x1a, 0xb1};

void printHex(const char* label, std::span<const std::uint8_t> bytes) {
  std::printf("  %-9s", label);
  for (const std::uint8_t b : bytes) {
    std::printf("%02x", static_cast<unsigned>(b));
  }
  std::printf("\n");
}

// Prints the verdict; on a mismatch also expected, produced and their XOR.
bool check(const char* what, std::span<const std::uint8_t> expected,
           std::span<const std::uint8_t> produced) {
  std::array<std::uint8_t, caseBytes> difference{};
  bool same = true;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference[i] = static_cast<std::uint8_t>(expected[i] ^ produced[i]);
    same = same && difference[i] == 0;
  }
  std::printf("%s: %s\n", what, same ? "ok" : "MISMATCH");
  if (!same) {
    printHex("expected", expected);
    printHex("produced", produced);
    printHex("xor", std::span(difference).first(expected.size()));
  }
  return same;
}

}  // namespace

int main() {
  Bytes data = casePlaintext;
  aes_128_cbc_encrypt(caseKey, caseIv, data.data(), static_cast<std::uint32_t>(data.size()));
  const bool encrypted = check("CBC encryption, RFC 3602 Case #2", caseCiphertext, data);

  aes_128_cbc_decrypt(caseKey, caseIv, data.data(), static_cast<std::uint32_t>(data.size()));
  const bool restored = check("CBC decryption restores the plaintext", casePlaintext, data);

  // The first CBC block is E(K, P1 xor IV).
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  std::array<std::uint8_t, aes_block_bytes> block{};
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(casePlaintext[i] ^ caseIv[i]);
  }
  rijndaelKeySetupEnc(roundKeys, caseKey);
  rijndaelEncrypt(roundKeys, block, block);
  const bool blockApi = check("Block API gives the first ciphertext block",
                              std::span(caseCiphertext).first<aes_block_bytes>(), block);

  aes_128_cbc_key keys{};
  aes_128_cbc_key_setup(keys, caseKey);
  std::array<std::uint8_t, aes_block_bytes> iv = caseIv;
  aes_128_cbc_encrypt_update(keys, iv, data.data(), aes_block_bytes);
  aes_128_cbc_encrypt_update(keys, iv, data.data() + aes_block_bytes, aes_block_bytes);
  const bool pieces = check("CBC encryption in two updates", caseCiphertext, data);

  std::array<std::uint8_t, caseBytes + aes_block_bytes> padded{};
  std::copy(casePlaintext.begin(), casePlaintext.end(), padded.begin());
  iv = caseIv;
  const std::uint32_t paddedLength =
      aes_128_cbc_encrypt_pkcs7(keys, iv, padded.data(), caseBytes, sizeof padded);
  iv = caseIv;
  const bool pkcs7 =
      paddedLength == sizeof padded &&
      aes_128_cbc_decrypt_pkcs7(keys, iv, padded.data(), paddedLength) == std::int64_t{caseBytes} &&
      check("PKCS#7 round trip", casePlaintext, std::span(padded).first(caseBytes));
  aes_128_cbc_key_wipe(keys);

  return encrypted && restored && blockApi && pieces && pkcs7 ? 0 : 1;
}
