// Fuzzes the in-place CBC calls and the block functions of every
// implementation this CPU supports, and the public functions that choose
// among them.
//
// Input layout: key (16 bytes), IV (16 bytes), a big-endian 16-bit length
// field, then the data. The length passed to the library is the field
// modulo (data size + 1), so every input names a length within the data and
// the data may run past it.
//
// Checked on every input, for each of them:
// - encryption turns the first length / 16 whole blocks into the ciphertext
//   of the independent reference model (tests/support); every byte after
//   them (the trailing length % 16 and any data past the length) keeps its
//   plaintext value;
// - decryption with the same key and IV restores all the data;
// - guard bytes on both sides of the buffer survive both calls;
// - with fewer than 16 bytes the calls also accept a null buffer;
// - the block functions' key set-ups give the reference schedules' words,
//   and the IV, as a block, enciphers in place to the reference model's
//   block and deciphers back;
// - the many-block functions encipher the whole blocks of the length into
//   another buffer, each the reference model's block, leave the bytes after
//   them and the guards alone, and decipher them back in place.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "support/reference_aes.hpp"

namespace {

constexpr std::size_t keyBytes = aes_128_key_bytes;
constexpr std::size_t ivBytes = aes_block_bytes;
constexpr std::size_t lengthFieldBytes = 2;
constexpr std::size_t headerBytes = keyBytes + ivBytes + lengthFieldBytes;
constexpr std::size_t guardBytes = 32;

// Position-dependent, so a stray write of any single repeated value shows.
std::uint8_t guardByte(std::size_t i) {
  return static_cast<std::uint8_t>(0xa5U ^ (i * 7U));
}

void printHex(const char* label, std::span<const std::uint8_t> bytes) {
  std::fprintf(stderr, "  %-9s", label);
  for (const std::uint8_t b : bytes) {
    std::fprintf(stderr, "%02x", static_cast<unsigned>(b));
  }
  std::fprintf(stderr, "\n");
}

// Stops the run (libFuzzer keeps the input) unless the two ranges match;
// prints expected, produced and their XOR.
void require(const char* implementation, const char* what, std::span<const std::uint8_t> expected,
             std::span<const std::uint8_t> produced) {
  if (std::ranges::equal(expected, produced)) {
    return;
  }
  std::vector<std::uint8_t> difference(expected.size());
  std::ranges::transform(expected, produced, difference.begin(),
                         [](std::uint8_t e, std::uint8_t p) { return std::uint8_t(e ^ p); });
  std::fprintf(stderr, "%s, %s: mismatch over %zu bytes\n", implementation, what, expected.size());
  printHex("expected", expected);
  printHex("produced", produced);
  printHex("xor", difference);
  std::abort();
}

// The data with guard bytes before and after it.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::span<const std::uint8_t> data)
      : bytes_(guardBytes + data.size() + guardBytes) {
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
      bytes_[i] = guardByte(i);
    }
    std::ranges::copy(data, bytes_.begin() + guardBytes);
  }

  std::span<std::uint8_t> data() {
    return std::span(bytes_).subspan(guardBytes, bytes_.size() - 2 * guardBytes);
  }

  void requireGuardsIntact(const char* implementation, const char* after) const {
    std::array<std::uint8_t, guardBytes> expected{};
    const std::size_t tail = bytes_.size() - guardBytes;
    for (std::size_t i = 0; i < guardBytes; ++i) {
      expected[i] = guardByte(i);
    }
    require(implementation, after, expected, std::span(bytes_).first(guardBytes));
    for (std::size_t i = 0; i < guardBytes; ++i) {
      expected[i] = guardByte(tail + i);
    }
    require(implementation, after, expected, std::span(bytes_).last(guardBytes));
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

// One encryption and decryption of `plaintext` by `encrypt` and `decrypt`.
void checkCbc(const char* name, aes128::CbcFunction encrypt, aes128::CbcFunction decrypt,
              std::span<const std::uint8_t, keyBytes> key,
              std::span<const std::uint8_t, ivBytes> iv, std::span<const std::uint8_t> plaintext,
              std::uint32_t length, std::span<const std::uint8_t> expected) {
  const std::size_t wholeBytes = expected.size();
  GuardedBuffer buffer(plaintext);
  const std::span<std::uint8_t> data = buffer.data();

  encrypt(key, iv, data.data(), length);
  buffer.requireGuardsIntact(name, "guard bytes after encryption");
  require(name, "ciphertext against the reference model", expected, data.first(wholeBytes));
  require(name, "bytes after the whole blocks, after encryption", plaintext.subspan(wholeBytes),
          data.subspan(wholeBytes));

  decrypt(key, iv, data.data(), length);
  buffer.requireGuardsIntact(name, "guard bytes after decryption");
  require(name, "decryption after encryption", plaintext, data);

  if (length < aes_block_bytes) {
    encrypt(key, iv, nullptr, length);
    decrypt(key, iv, nullptr, length);
  }
}

struct BlockFunctions {
  const char* name;
  aes128::KeySetupFunction keySetupEnc;
  aes128::BlockFunction encrypt;
  aes128::KeySetupFunction keySetupDec;
  aes128::BlockFunction decrypt;
  aes128::BlocksFunction encryptBlocks;
  aes128::BlocksFunction decryptBlocks;
};

// The many-block functions over the data's whole blocks, from one buffer
// into another and back in place: each block the reference model's, the
// bytes after them and the guards untouched. `expected` is the data with its
// whole blocks enciphered one by one by the reference model.
void checkManyBlocks(const BlockFunctions& functions,
                     std::span<const std::uint32_t, aes_128_round_key_words> encryption,
                     std::span<const std::uint32_t, aes_128_round_key_words> decryption,
                     std::span<const std::uint8_t> plaintext, std::uint32_t length,
                     std::span<const std::uint8_t> expected) {
  GuardedBuffer output(plaintext);
  functions.encryptBlocks(encryption, plaintext.data(), output.data().data(), length);
  output.requireGuardsIntact(functions.name, "guard bytes after the many-block encryption");
  require(functions.name, "many blocks against the reference model", expected, output.data());
  functions.decryptBlocks(decryption, output.data().data(), output.data().data(), length);
  output.requireGuardsIntact(functions.name, "guard bytes after the many-block decryption");
  require(functions.name, "many blocks decrypted after encryption", plaintext, output.data());
  if (length < aes_block_bytes) {
    functions.encryptBlocks(encryption, nullptr, nullptr, length);
    functions.decryptBlocks(decryption, nullptr, nullptr, length);
  }
}

// The key set-ups against the reference schedule, and one block, in place,
// through both directions. One block an input: the CBC checks take the
// length, and each block here costs the slow implementations dearly.
void checkBlocks(const BlockFunctions& functions, std::span<const std::uint8_t, keyBytes> key,
                 std::span<const std::uint8_t, aes_block_bytes> input,
                 std::span<const std::uint8_t> plaintext, std::uint32_t length,
                 std::span<const std::uint8_t> expectedBlocks) {
  using RoundKeys = std::array<std::uint32_t, aes_128_round_key_words>;
  RoundKeys encryption{};
  RoundKeys decryption{};
  functions.keySetupEnc(encryption, key);
  functions.keySetupDec(decryption, key);
  const reference::KeySchedule schedule = reference::expandKey(key);
  for (std::size_t i = 0; i < encryption.size(); ++i) {
    const std::array<std::uint8_t, 4> word{static_cast<std::uint8_t>(encryption[i] >> 24),
                                           static_cast<std::uint8_t>(encryption[i] >> 16),
                                           static_cast<std::uint8_t>(encryption[i] >> 8),
                                           static_cast<std::uint8_t>(encryption[i])};
    require(functions.name, "encryption round-key word against the reference", schedule[i], word);
  }
  std::array<std::uint8_t, aes_block_bytes> block{};
  std::ranges::copy(input, block.begin());
  functions.encrypt(encryption, block, block);
  require(functions.name, "block against the reference model", reference::encryptBlock(key, input),
          block);
  functions.decrypt(decryption, block, block);
  require(functions.name, "block decrypted after encryption", input, block);
  checkManyBlocks(functions, encryption, decryption, plaintext, length, expectedBlocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < headerBytes) {
    return -1;  // Not an input of this layout: keep it out of the corpus.
  }
  const std::span<const std::uint8_t> all(input, size);
  const std::span<const std::uint8_t, keyBytes> key = all.first<keyBytes>();
  const std::span<const std::uint8_t, ivBytes> iv = all.subspan<keyBytes, ivBytes>();
  const std::size_t lengthField =
      std::size_t{all[keyBytes + ivBytes]} << 8U | std::size_t{all[keyBytes + ivBytes + 1]};
  const std::span<const std::uint8_t> plaintext = all.subspan(headerBytes);
  const auto length = static_cast<std::uint32_t>(lengthField % (plaintext.size() + 1));

  const std::span<const std::uint8_t> wholeBlocks =
      plaintext.first(length / aes_block_bytes * aes_block_bytes);
  std::vector<std::uint8_t> expected(wholeBlocks.begin(), wholeBlocks.end());
  reference::cbcEncrypt(key, iv, expected);
  std::vector<std::uint8_t> expectedBlocks(plaintext.begin(), plaintext.end());
  for (std::size_t at = 0; at < wholeBlocks.size(); at += aes_block_bytes) {
    const auto block = reference::encryptBlock(
        key, std::span<const std::uint8_t, aes_block_bytes>(&plaintext[at], aes_block_bytes));
    std::ranges::copy(block, expectedBlocks.begin() + static_cast<std::ptrdiff_t>(at));
  }

  for (const aes128::Implementation* implementation : aes128::implementations()) {
    if (implementation->supported()) {
      checkCbc(implementation->name, implementation->encrypt, implementation->decrypt, key, iv,
               plaintext, length, expected);
      checkBlocks({implementation->name, implementation->keySetupEnc, implementation->encryptBlock,
                   implementation->keySetupDec, implementation->decryptBlock,
                   implementation->encryptBlocks, implementation->decryptBlocks},
                  key, iv, plaintext, length, expectedBlocks);
    }
  }
  checkCbc("public functions", aes_128_cbc_encrypt, aes_128_cbc_decrypt, key, iv, plaintext, length,
           expected);
  checkBlocks({"public functions", rijndaelKeySetupEnc, rijndaelEncrypt, rijndaelKeySetupDec,
               rijndaelDecrypt, rijndaelEncryptBlocks, rijndaelDecryptBlocks},
              key, iv, plaintext, length, expectedBlocks);
  return 0;
}
