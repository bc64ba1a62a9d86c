// Counts the instructions of the library's calls, run under
//   valgrind --tool=callgrind --collect-atstart=no
// (bench/instructions.sh does this). Each measurement first runs its call
// once uncounted, so that lazy symbol binding and first-touch page faults
// stay out of the figure, then counts one call and dumps the counters under
// the measurement's name. Outside valgrind the client requests do nothing.
//
// The CBC, kept-key and block-function figures are taken for every
// implementation this CPU supports, called directly, and once more through
// the public functions, which add the choice of implementation.
#include <valgrind/callgrind.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "inputs.hpp"
#include "kept_key.hpp"

namespace {

template <typename Call>
void measure(const std::string& name, Call call) {
  call();
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
  call();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(name.c_str());
}

constexpr std::uint32_t largeLength = 64 * 1024;

void measureCbc(const std::string& prefix, aes128::CbcFunction encrypt, aes128::CbcFunction decrypt,
                std::vector<std::uint8_t>& data) {
  measure(prefix + ".cbc_encrypt_16B", [&] { encrypt(benchKey, benchIv, data.data(), 16); });
  measure(prefix + ".cbc_decrypt_16B", [&] { decrypt(benchKey, benchIv, data.data(), 16); });
  measure(prefix + ".cbc_encrypt_64KiB",
          [&] { encrypt(benchKey, benchIv, data.data(), largeLength); });
  measure(prefix + ".cbc_decrypt_64KiB",
          [&] { decrypt(benchKey, benchIv, data.data(), largeLength); });
}

// The update calls, which continue the message in `iv`, and the PKCS#7 calls
// on a whole block: 15 bytes padded to 16, and its decryption.
template <typename KeptKey>
void measureKeptKey(const std::string& prefix, const KeptKey& keptKey,
                    std::vector<std::uint8_t>& data) {
  std::array<std::uint8_t, aes_block_bytes> iv = benchIv;
  measure(prefix + ".cbc_encrypt_update_16B",
          [&] { keptKey.encryptUpdate(iv, data.data(), aes_block_bytes); });
  measure(prefix + ".cbc_decrypt_update_16B",
          [&] { keptKey.decryptUpdate(iv, data.data(), aes_block_bytes); });
  measure(prefix + ".cbc_encrypt_update_64KiB",
          [&] { keptKey.encryptUpdate(iv, data.data(), largeLength); });
  measure(prefix + ".cbc_decrypt_update_64KiB",
          [&] { keptKey.decryptUpdate(iv, data.data(), largeLength); });
  // The messages calls on 64 KiB: one message, and eight of 8 KiB each.
  for (const std::size_t count : {std::size_t{1}, std::size_t{8}}) {
    const std::uint32_t length = largeLength / static_cast<std::uint32_t>(count);
    std::vector<std::array<std::uint8_t, aes_block_bytes>> ivs(count, benchIv);
    std::vector<aes_128_cbc_message> messages(count);
    for (std::size_t m = 0; m < count; ++m) {
      messages[m] = {ivs[m].data(), data.data() + m * length, length};
    }
    const std::string messagesOf = "_messages_" + std::to_string(count) + "_64KiB";
    measure(prefix + ".cbc_encrypt" + messagesOf, [&] { keptKey.encryptMessages(messages); });
    measure(prefix + ".cbc_decrypt" + messagesOf, [&] { keptKey.decryptMessages(messages); });
  }
  measure(prefix + ".cbc_encrypt_pkcs7_16B",
          [&] { keptKey.encryptPkcs7(iv, data.data(), aes_block_bytes - 1, aes_block_bytes); });
  measure(prefix + ".cbc_decrypt_pkcs7_16B",
          [&] { keptKey.decryptPkcs7(iv, data.data(), aes_block_bytes); });
}

struct BlockFunctions {
  aes128::KeySetupFunction keySetupEnc;
  aes128::BlockFunction encrypt;
  aes128::KeySetupFunction keySetupDec;
  aes128::BlockFunction decrypt;
  aes128::BlocksFunction encryptBlocks;
  aes128::BlocksFunction decryptBlocks;
};

// A key set-up each way, one block each way with its array, and 64 KiB of
// blocks each way through the many-block functions, in place.
void measureBlocks(const std::string& prefix, const BlockFunctions& functions,
                   std::vector<std::uint8_t>& data) {
  std::array<std::uint32_t, aes_128_round_key_words> encryption{};
  std::array<std::uint32_t, aes_128_round_key_words> decryption{};
  std::array<std::uint8_t, aes_block_bytes> block{};
  measure(prefix + ".key_setup_enc", [&] { functions.keySetupEnc(encryption, benchKey); });
  measure(prefix + ".key_setup_dec", [&] { functions.keySetupDec(decryption, benchKey); });
  measure(prefix + ".encrypt_block", [&] { functions.encrypt(encryption, block, block); });
  measure(prefix + ".decrypt_block", [&] { functions.decrypt(decryption, block, block); });
  measure(prefix + ".encrypt_blocks_64KiB",
          [&] { functions.encryptBlocks(encryption, data.data(), data.data(), largeLength); });
  measure(prefix + ".decrypt_blocks_64KiB",
          [&] { functions.decryptBlocks(decryption, data.data(), data.data(), largeLength); });
}

}  // namespace

int main() {
  std::vector<std::uint8_t> data = benchMessage(largeLength);
  measure("empty", [] {});
  for (const aes128::Implementation* implementation : aes128::implementations()) {
    if (implementation->supported()) {
      measureBlocks(implementation->name,
                    {implementation->keySetupEnc, implementation->encryptBlock,
                     implementation->keySetupDec, implementation->decryptBlock,
                     implementation->encryptBlocks, implementation->decryptBlocks},
                    data);
      measureCbc(implementation->name, implementation->encrypt, implementation->decrypt, data);
      measureKeptKey(implementation->name, ImplementationKeptKey(*implementation), data);
    }
  }
  const std::string publicPrefix = std::string("public-") + aes_128_cbc_implementation();
  measureBlocks(publicPrefix,
                {rijndaelKeySetupEnc, rijndaelEncrypt, rijndaelKeySetupDec, rijndaelDecrypt,
                 rijndaelEncryptBlocks, rijndaelDecryptBlocks},
                data);
  measureCbc(publicPrefix, aes_128_cbc_encrypt, aes_128_cbc_decrypt, data);
  measureKeptKey(publicPrefix, PublicKeptKey(), data);
  aes_128_cbc_key keys{};
  measure(publicPrefix + ".cbc_key_setup", [&] { aes_128_cbc_key_setup(keys, benchKey); });
  return 0;
}
