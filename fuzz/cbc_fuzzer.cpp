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
// - with a kept key, the whole blocks encrypted as two updates cut at a
//   block boundary the length field also picks give the same ciphertext and
//   leave its last block in the IV, and decrypt back the same way; the two
//   pieces as two messages, each from the IV, encrypted together give the
//   reference model's ciphertext of each, and decrypt back; the
//   first `length` bytes padded by the PKCS#7 call give the reference
//   model's ciphertext of the padded bytes, and decrypt back to them with
//   their length;
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

using Iv = std::span<std::uint8_t, ivBytes>;

// The kept-key calls of one implementation, in the public functions' shape.
struct ImplementationKeptKey {
  const aes128::Implementation& implementation;
  const char* name() const { return implementation.name; }
  void encryptUpdate(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                     std::uint32_t length) const {
    implementation.encryptUpdate(aes128::ConstWords(keys.encryption), iv, data, length);
  }
  void decryptUpdate(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                     std::uint32_t length) const {
    implementation.decryptUpdate(aes128::ConstWords(keys.decryption), iv, data, length);
  }
  std::uint32_t encryptPkcs7(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                             std::uint32_t length, std::uint32_t capacity) const {
    return implementation.encryptPkcs7(aes128::ConstWords(keys.encryption), iv, data, length,
                                       capacity);
  }
  std::int64_t decryptPkcs7(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                            std::uint32_t length) const {
    return implementation.decryptPkcs7(aes128::ConstWords(keys.decryption), iv, data, length);
  }
  void encryptMessages(const aes_128_cbc_key& keys,
                       std::span<const aes_128_cbc_message> messages) const {
    implementation.encryptMessages(aes128::ConstWords(keys.encryption), messages);
  }
  void decryptMessages(const aes_128_cbc_key& keys,
                       std::span<const aes_128_cbc_message> messages) const {
    implementation.decryptMessages(aes128::ConstWords(keys.decryption), messages);
  }
};

// The same calls as an implementation's, for the member pointers that
// checkKeptKey takes; they need no state of their own.
// NOLINTBEGIN(readability-convert-member-functions-to-static)
struct PublicKeptKey {
  const char* name() const { return "public functions"; }
  void encryptUpdate(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                     std::uint32_t length) const {
    aes_128_cbc_encrypt_update(keys, iv, data, length);
  }
  void decryptUpdate(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                     std::uint32_t length) const {
    aes_128_cbc_decrypt_update(keys, iv, data, length);
  }
  std::uint32_t encryptPkcs7(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                             std::uint32_t length, std::uint32_t capacity) const {
    return aes_128_cbc_encrypt_pkcs7(keys, iv, data, length, capacity);
  }
  std::int64_t decryptPkcs7(const aes_128_cbc_key& keys, Iv iv, std::uint8_t* data,
                            std::uint32_t length) const {
    return aes_128_cbc_decrypt_pkcs7(keys, iv, data, length);
  }
  void encryptMessages(const aes_128_cbc_key& keys,
                       std::span<const aes_128_cbc_message> messages) const {
    aes_128_cbc_encrypt_messages(keys, messages);
  }
  void decryptMessages(const aes_128_cbc_key& keys,
                       std::span<const aes_128_cbc_message> messages) const {
    aes_128_cbc_decrypt_messages(keys, messages);
  }
};
// NOLINTEND(readability-convert-member-functions-to-static)

// Two updates each way, cut at block `cut` (modulo the blocks there are),
// and a PKCS#7 round trip of the first `length` bytes.
template <typename KeptKey>
void checkKeptKey(const KeptKey& calls, const aes_128_cbc_key& keys,
                  std::span<const std::uint8_t, keyBytes> key,
                  std::span<const std::uint8_t, ivBytes> iv,
                  std::span<const std::uint8_t> plaintext, std::uint32_t length, std::size_t cut,
                  std::span<const std::uint8_t> expected) {
  const char* name = calls.name();
  const std::size_t wholeBytes = expected.size();
  const std::size_t cutBytes = cut % (wholeBytes / aes_block_bytes + 1) * aes_block_bytes;
  const std::span<const std::uint8_t> whole = plaintext.first(wholeBytes);
  std::vector<std::uint8_t> data(whole.begin(), whole.end());
  std::array<std::uint8_t, ivBytes> chain{};
  const auto twoUpdates = [&](auto update) {
    std::ranges::copy(iv, chain.begin());
    (calls.*update)(keys, chain, data.data(), static_cast<std::uint32_t>(cutBytes));
    (calls.*update)(keys, chain, data.data() + cutBytes,
                    static_cast<std::uint32_t>(wholeBytes - cutBytes));
  };
  twoUpdates(&KeptKey::encryptUpdate);
  require(name, "ciphertext of two updates against the reference model", expected, data);
  require(name, "IV after the updates", wholeBytes > 0 ? expected.last(ivBytes) : iv, chain);
  twoUpdates(&KeptKey::decryptUpdate);
  require(name, "decryption of two updates", plaintext.first(wholeBytes), data);

  // The same pieces as two messages, each from the IV, together.
  std::vector<std::uint8_t> expectedSecond(whole.begin() + static_cast<std::ptrdiff_t>(cutBytes),
                                           whole.end());
  reference::cbcEncrypt(key, iv, expectedSecond);
  std::array<std::array<std::uint8_t, ivBytes>, 2> ivs{};
  const std::array<aes_128_cbc_message, 2> messages{
      {{ivs[0].data(), data.data(), static_cast<std::uint32_t>(cutBytes)},
       {ivs[1].data(), data.data() + cutBytes, static_cast<std::uint32_t>(wholeBytes - cutBytes)}}};
  const auto resetIvs = [&] {
    for (auto& each : ivs) {
      std::ranges::copy(iv, each.begin());
    }
  };
  resetIvs();
  calls.encryptMessages(keys, messages);
  require(name, "first message against the reference model", expected.first(cutBytes),
          std::span(data).first(cutBytes));
  require(name, "second message against the reference model", expectedSecond,
          std::span(data).subspan(cutBytes));
  require(name, "IV of the second message",
          expectedSecond.empty() ? iv : std::span<const std::uint8_t>(expectedSecond).last(ivBytes),
          ivs[1]);
  resetIvs();
  calls.decryptMessages(keys, messages);
  require(name, "decryption of the messages", plaintext.first(wholeBytes), data);

  const std::size_t paddedBytes = (length / aes_block_bytes + 1) * aes_block_bytes;
  const std::span<const std::uint8_t> message = plaintext.first(length);
  std::vector<std::uint8_t> padded(message.begin(), message.end());
  padded.resize(paddedBytes, static_cast<std::uint8_t>(paddedBytes - length));
  std::vector<std::uint8_t> expectedPadded = padded;
  reference::cbcEncrypt(key, iv, expectedPadded);
  std::ranges::copy(iv, chain.begin());
  const std::uint32_t paddedLength = calls.encryptPkcs7(keys, chain, padded.data(), length,
                                                        static_cast<std::uint32_t>(paddedBytes));
  require(name, "PKCS#7 ciphertext against the reference model", expectedPadded, padded);
  std::ranges::copy(iv, chain.begin());
  const std::int64_t plaintextLength = calls.decryptPkcs7(keys, chain, padded.data(), paddedLength);
  if (paddedLength != paddedBytes || plaintextLength != length) {
    std::fprintf(stderr, "%s: PKCS#7 lengths %u and %lld, not %zu and %u\n", name, paddedLength,
                 static_cast<long long>(plaintextLength), paddedBytes, length);
    std::abort();
  }
  require(name, "PKCS#7 decryption", plaintext.first(length), std::span(padded).first(length));
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

  aes_128_cbc_key keys{};
  aes_128_cbc_key_setup(keys, key);
  for (const aes128::Implementation* implementation : aes128::implementations()) {
    if (implementation->supported()) {
      checkCbc(implementation->name, implementation->encrypt, implementation->decrypt, key, iv,
               plaintext, length, expected);
      checkKeptKey(ImplementationKeptKey{*implementation}, keys, key, iv, plaintext, length,
                   lengthField, expected);
      checkBlocks({implementation->name, implementation->keySetupEnc, implementation->encryptBlock,
                   implementation->keySetupDec, implementation->decryptBlock,
                   implementation->encryptBlocks, implementation->decryptBlocks},
                  key, iv, plaintext, length, expectedBlocks);
    }
  }
  checkCbc("public functions", aes_128_cbc_encrypt, aes_128_cbc_decrypt, key, iv, plaintext, length,
           expected);
  checkKeptKey(PublicKeptKey{}, keys, key, iv, plaintext, length, lengthField, expected);
  aes_128_cbc_key_wipe(keys);
  checkBlocks({"public functions", rijndaelKeySetupEnc, rijndaelEncrypt, rijndaelKeySetupDec,
               rijndaelDecrypt, rijndaelEncryptBlocks, rijndaelDecryptBlocks},
              key, iv, plaintext, length, expectedBlocks);
  return 0;
}
