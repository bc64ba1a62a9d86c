// example4: known-answer self-test of AES-128-CBC on RFC 3602, section 4,
// Case #1. Prints what it did under Korean labels (CP949 bytes, shown as text
// on a console), then either fails at once with status 1 or prints the
// verdict and waits for one key.
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cbc/aes_cbc.hpp"
#include "console.hpp"

namespace {

// The Korean labels: the CP949 bytes that standard output carries, and the
// same text in UTF-8 (the compilers' execution character set) for a UTF-8
// terminal.
constexpr console::Label plainTextLabel{"\xBF\xF8\xB9\xAE", "원문"};
constexpr console::Label encryptedLabel{"\xBE\xCF\xC8\xA3\xC8\xAD", "암호화"};
constexpr console::Label cipherTextLabel{"\xBE\xCF\xC8\xA3\xB9\xAE", "암호문"};
constexpr console::Label decryptedLabel{"\xBA\xB9\xC8\xA3\xC8\xAD", "복호화"};

// Set when a console refused text; the stream's own errors are in ferror.
bool consoleRefused = false;

void noteDelivery(bool accepted) {
  if (!accepted) {
    consoleRefused = true;
  }
}

void print(std::string_view text) {
  noteDelivery(console::write(text));
}

// A labelled line: the label, then the rest formatted as by printf. The %s
// fields print at most the 255 bytes before the zero fill of their buffers.
// A C variadic function, so that the compiler checks each format against its
// arguments as it does printf's, which a parameter pack would not.
// NOLINTNEXTLINE(cert-dcl50-cpp)
[[gnu::format(printf, 2, 3)]] void printLabelled(const console::Label& label, const char* format,
                                                 ...) {
  noteDelivery(console::writeLabel(label));
  char rest[320];
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(rest, sizeof rest, format, arguments);
  va_end(arguments);
  print(rest);
}

// Whether everything printed so far has reached standard output; a closed
// stream or a full disk must not pass for a successful run.
bool outputDelivered() {
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && !consoleRefused;
}

[[noreturn]] void failRun(std::string_view message) {
  print(message);
  print("\n");
  std::fflush(stdout);
  std::exit(EXIT_FAILURE);
}

void pause() {
  // The prompt must be visible before the wait; if nobody can see it, there
  // is no key to wait for.
  const bool waited = console::waitForKeypress([] {
    print("Press any key to continue . . .");
    return outputDelivered();
  });
  if (!waited) {
    std::exit(EXIT_FAILURE);
  }
  print("\n");
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

  printLabelled(plainTextLabel, " = %s, Key %d, IV %d \n", reinterpret_cast<const char*>(plainText),
                keyBits, ivBits);
  printLabelled(encryptedLabel, " = %s \n", reinterpret_cast<const char*>(cipherText));
  if (std::memcmp(cipherText, expectedCipher, blockBytes) != 0) {
    failRun("Encrypt Failed...");
  }

  std::memcpy(decryptedText, cipherText, blockBytes);
  printLabelled(cipherTextLabel, " = %s \n", reinterpret_cast<const char*>(cipherText));
  aes_128_cbc_decrypt(key, iv, decryptedText, blockBytes);

  printLabelled(decryptedLabel, " = %s, Key %d, IV %d \n",
                reinterpret_cast<const char*>(decryptedText), keyBits, ivBits);
  if (std::memcmp(decryptedText, plainText, blockBytes) != 0) {
    failRun("Decrypt Failed...");
  }

  print("AES-128bit En/Decryption Test O.K.\n");
  pause();
  return outputDelivered() ? EXIT_SUCCESS : EXIT_FAILURE;
}
