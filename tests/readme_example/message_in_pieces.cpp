// A file of any size through CBC in pieces of 4 KiB with one kept key, the
// last piece with PKCS#7 padding; then decrypted the same way.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cbc/aes_cbc.hpp"

constexpr std::uint32_t piece = 4096;  // any multiple of 16

bool encryptFile(const aes_128_cbc_key& keys, std::uint8_t (&iv)[16], std::FILE* in,
                 std::FILE* out) {
  std::uint8_t buffer[piece + aes_block_bytes];  // room for the padding
  for (;;) {
    const auto length = static_cast<std::uint32_t>(std::fread(buffer, 1, piece, in));
    if (length < piece) {  // the end: 0 to 4095 bytes, padded to whole blocks
      const std::uint32_t padded =
          aes_128_cbc_encrypt_pkcs7(keys, iv, buffer, length, sizeof buffer);
      return padded > 0 && std::fwrite(buffer, 1, padded, out) == padded;
    }
    aes_128_cbc_encrypt_update(keys, iv, buffer, piece);  // iv carries the chain on
    if (std::fwrite(buffer, 1, piece, out) != piece) {
      return false;
    }
  }
}

// Authenticate the ciphertext before this (SECURITY.md): a padding error told
// to anyone is a padding oracle.
bool decryptFile(const aes_128_cbc_key& keys, std::uint8_t (&iv)[16], std::FILE* in,
                 std::FILE* out) {
  std::uint8_t buffer[piece];
  auto length = static_cast<std::uint32_t>(std::fread(buffer, 1, piece, in));
  for (int next = std::fgetc(in); next != EOF; next = std::fgetc(in)) {
    std::ungetc(next, in);  // more follows: this piece is not the last
    aes_128_cbc_decrypt_update(keys, iv, buffer, piece);
    if (std::fwrite(buffer, 1, piece, out) != piece) {
      return false;
    }
    length = static_cast<std::uint32_t>(std::fread(buffer, 1, piece, in));
  }
  const std::int64_t plaintext = aes_128_cbc_decrypt_pkcs7(keys, iv, buffer, length);
  return plaintext >= 0 && std::fwrite(buffer, 1, static_cast<std::size_t>(plaintext), out) ==
                               static_cast<std::size_t>(plaintext);
}

int main() {
  const std::uint8_t key[16] = {0x06, 0xa9, 0x21, 0x40, 0x36, 0xb8, 0xa1, 0x5b,
                                0x51, 0x2e, 0x03, 0xd5, 0x34, 0x12, 0x00, 0x06};
  // Each message needs an IV of its own that no one can predict: a real
  // program draws it from the system's random source and sends it along.
  std::uint8_t messageIv[16] = {0x3d, 0xaf, 0xba, 0x42, 0x9d, 0x9e, 0xb4, 0x30,
                                0xb4, 0x22, 0xda, 0x80, 0x2c, 0x9f, 0xac, 0x41};
  aes_128_cbc_key keys{};
  aes_128_cbc_key_setup(keys, key);

  bool same = true;
  for (const long size : {0L, 100L, 8192L, 10000L}) {
    std::FILE* files[3] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
    if (files[0] == nullptr || files[1] == nullptr || files[2] == nullptr) {
      return 1;
    }
    ++messageIv[15];  // here, for the example, merely another IV
    for (long i = 0; i < size; ++i) {
      std::fputc(static_cast<int>(i * 7 % 256), files[0]);
    }
    std::uint8_t iv[16];
    std::rewind(files[0]);
    std::copy(messageIv, messageIv + 16, iv);
    const bool encrypted = encryptFile(keys, iv, files[0], files[1]);
    std::rewind(files[1]);
    std::copy(messageIv, messageIv + 16, iv);
    const bool decrypted = decryptFile(keys, iv, files[1], files[2]);
    std::rewind(files[0]);
    std::rewind(files[2]);
    int a = 0;
    int b = 0;
    while ((a = std::fgetc(files[0])) == (b = std::fgetc(files[2])) && a != EOF) {
    }
    std::printf("%5ld bytes -> %5ld encrypted -> %s\n", size, std::ftell(files[1]),
                encrypted && decrypted && a == b ? "same bytes back" : "MISMATCH");
    same = same && encrypted && decrypted && a == b;
    for (std::FILE* file : files) {
      std::fclose(file);  // NOLINT(cppcoreguidelines-owning-memory): a C stream
    }
  }
  aes_128_cbc_key_wipe(keys);
  return same ? 0 : 1;
}
