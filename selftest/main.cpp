// example4: known-answer self-test of AES-128-CBC on RFC 3602, section 4,
// Case #1. Prints what it did under Korean labels (CP949 bytes), then either
// fails at once with status 1 or prints the verdict and waits for one key.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cbc/aes_cbc.hpp"
#include "selftest/console.hpp"

namespace {

// Whether everything printed so far has reached standard output; a closed
// stream or a full disk must not pass for a successful run.
bool outputDelivered() {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

[[noreturn]] void failRun(const char* message) {
  std::puts(message);
  std::fflush(stdout);
  std::exit(EXIT_FAILURE);
}

void pause() {
  std::fputs("Press any key to continue . . .", stdout);
  // The prompt must be visible before the wait; if nobody can see it, there
  // is no key to wait for.
  if (!outputDelivered()) {
    std::exit(EXIT_FAILURE);
  }
  console::waitForKeypress();
  std::puts("");
}

}  // namespace

int main() {
  std::uint8_t key[16] = {0x06, 0xa9, 0x21, 0x40, 0x36, 0xb8, 0xa1, 0x5b,
                          0x51, 0x2e, 0x03, 0xd5, 0x34, 0x12, 0x00, 0x06};
  std::uint8_t iv[16] = {0x3d, 0xaf, 0xba, 0x42, 0x9d, 0x9e, 0xb4, 0x30,
                         0xb4, 0x22, 0xda, 0x80, 0x2c, 0x9f, 0xac, 0x41};
  // "Single block msg", no terminator among its 16 bytes: the zero fill after
  // it ends the strings that the %s fields print.
  std::uint8_t plainText[256] = {'S', 'i', 'n', 'g', 'l', 'e', ' ', 'b',
                                 'l', 'o', 'c', 'k', ' ', 'm', 's', 'g'};
  std::uint8_t cipherText[256] = {};
  std::uint8_t decryptedText[256] = {};
  std::uint8_t expectedCipher[16] = {0xe3, 0x53, 0x77, 0x9c, 0x10, 0x79, 0xae, 0xb8,
                                     0x27, 0x08, 0x94, 0x2d, 0xbe, 0x77, 0x18, 0x1a};
  constexpr std::uint32_t blockBytes = 16;
  // The two %d fields show the key and IV lengths in bits.
  constexpr int keyBits = static_cast<int>(sizeof key * CHAR_BIT);
  constexpr int ivBits = static_cast<int>(sizeof iv * CHAR_BIT);

  // The plaintext fills the whole block, so its 16 bytes are copied without a
  // terminator; byte 16 of cipherText stays zero.
  std::memcpy(cipherText, plainText, blockBytes);
  aes_128_cbc_encrypt(key, iv, cipherText, blockBytes);

  // The Korean labels are written as CP949 bytes on every host, each in its
  // own literal so that no hex escape runs on into the text after it.
  // 원문 (plaintext):
  std::printf(
      "\xBF\xF8\xB9\xAE"
      " = %s, Key %d, IV %d \n",
      reinterpret_cast<const char*>(plainText), keyBits, ivBits);
  // 암호화 (encrypted):
  std::printf(
      "\xBE\xCF\xC8\xA3\xC8\xAD"
      " = %s \n",
      reinterpret_cast<const char*>(cipherText));
  if (std::memcmp(cipherText, expectedCipher, blockBytes) != 0) {
    failRun("Encrypt Failed...");
  }

  std::memcpy(decryptedText, cipherText, blockBytes);
  // 암호문 (ciphertext):
  std::printf(
      "\xBE\xCF\xC8\xA3\xB9\xAE"
      " = %s \n",
      reinterpret_cast<const char*>(cipherText));
  aes_128_cbc_decrypt(key, iv, decryptedText, blockBytes);

  // 복호화 (decrypted):
  std::printf(
      "\xBA\xB9\xC8\xA3\xC8\xAD"
      " = %s, Key %d, IV %d \n",
      reinterpret_cast<const char*>(decryptedText), keyBits, ivBits);
  if (std::memcmp(decryptedText, plainText, blockBytes) != 0) {
    failRun("Decrypt Failed...");
  }

  std::puts("AES-128bit En/Decryption Test O.K.");
  pause();
  return outputDelivered() ? EXIT_SUCCESS : EXIT_FAILURE;
}
