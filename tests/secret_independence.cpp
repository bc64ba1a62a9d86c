// Shows whether an implementation's branches and memory addresses depend on
// key, IV or data. Under valgrind's memcheck, all three are marked undefined
// before one CBC encryption and one decryption of 4 KiB; or before the block
// functions' key set-ups, the encryption and decryption of 256 blocks one at
// a time, then all at once through the many-block functions; or before the
// key set-ups of a kept key, the updates of 4 KiB each way, the PKCS#7 calls
// and the messages calls: memcheck then reports each conditional jump and
// each address computed from them. Nothing of the (undefined) result is
// looked at afterwards but the lengths the PKCS#7 calls return, which are
// declassified first (marked defined), as a caller does once the ciphertext
// is authenticated.
// The program prints the count of reports drawn by those calls alone: a
// static C library draws some of its own at start-up and exit.
//
//   secret_independence                  lists the implementations this CPU
//                                        supports
//   secret_independence NAME cbc|block|kept
//                                        runs the CBC, the block or the
//                                        kept-key functions of implementation
//                                        NAME; exits with status 77 if the
//                                        CPU, as the program sees it, lacks
//                                        its instructions
//
// Under valgrind the program sees valgrind's CPU, which may lack what the
// real one has (valgrind 3.19 hides VAES), so an implementation listed
// natively may turn out unsupported there.
#include <valgrind/memcheck.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"

namespace {

using Block = std::array<std::uint8_t, 16>;
using Words = std::array<std::uint32_t, aes128::roundKeyWords>;

void cbcCalls(const aes128::Implementation& implementation, const Block& key, const Block& iv,
              std::vector<std::uint8_t>& data) {
  const auto length = static_cast<std::uint32_t>(data.size());
  implementation.encrypt(key, iv, data.data(), length);
  implementation.decrypt(key, iv, data.data(), length);
}

void blockCalls(const aes128::Implementation& implementation, const Block& key,
                std::vector<std::uint8_t>& data) {
  Words encryption{};
  Words decryption{};
  implementation.keySetupEnc(encryption, key);
  implementation.keySetupDec(decryption, key);
  for (std::size_t offset = 0; offset < data.size(); offset += 16) {
    const std::span<std::uint8_t, 16> block(data.data() + offset, 16);
    implementation.encryptBlock(encryption, block, block);
    implementation.decryptBlock(decryption, block, block);
  }
  const auto length = static_cast<std::uint32_t>(data.size());
  implementation.encryptBlocks(encryption, data.data(), data.data(), length);
  implementation.decryptBlocks(decryption, data.data(), data.data(), length);
}

// The kept-key calls; the lengths the PKCS#7 calls return are declassified,
// as a caller does once the ciphertext is authenticated. Returns the
// program's status: 1 where the padding came back neither right nor wrong.
int keptKeyCalls(const aes128::Implementation& implementation, const Block& key, Block& iv,
                 std::vector<std::uint8_t>& data) {
  Words encryption{};
  Words decryption{};
  implementation.keySetupEnc(encryption, key);
  implementation.keySetupDec(decryption, key);
  const auto length = static_cast<std::uint32_t>(data.size());
  Block chain = iv;
  implementation.encryptUpdate(encryption, chain, data.data(), length);
  implementation.decryptUpdate(decryption, iv, data.data(), length);
  // Three messages of unequal lengths, each with a copy of the IV.
  std::array<Block, 3> ivs{iv, iv, iv};
  const std::array<aes_128_cbc_message, 3> messages{{{ivs[0].data(), data.data(), 1024},
                                                     {ivs[1].data(), data.data() + 1024, 512},
                                                     {ivs[2].data(), data.data() + 1536, 2560}}};
  implementation.encryptMessages(encryption, messages);
  ivs = {iv, iv, iv};
  implementation.decryptMessages(decryption, messages);
  std::uint32_t padded =
      implementation.encryptPkcs7(encryption, chain, data.data(), length - 1, length);
  VALGRIND_MAKE_MEM_DEFINED(&padded, sizeof padded);
  std::int64_t plaintext = implementation.decryptPkcs7(decryption, iv, data.data(), padded);
  VALGRIND_MAKE_MEM_DEFINED(&plaintext, sizeof plaintext);
  return plaintext == -1 || plaintext == length - 1 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int unsupportedStatus = 77;
  for (const aes128::Implementation* implementation : aes128::implementations()) {
    if (argc < 2) {
      if (implementation->supported()) {
        std::puts(implementation->name);
      }
    } else if (argc == 3 && std::strcmp(argv[1], implementation->name) == 0) {
      if (!implementation->supported()) {
        std::fprintf(stderr, "%s: this CPU lacks the instructions it needs\n", argv[1]);
        return unsupportedStatus;
      }
      std::array<std::uint8_t, 16> key{};
      std::array<std::uint8_t, 16> iv{};
      std::vector<std::uint8_t> data(4096);
      VALGRIND_MAKE_MEM_UNDEFINED(key.data(), key.size());
      VALGRIND_MAKE_MEM_UNDEFINED(iv.data(), iv.size());
      VALGRIND_MAKE_MEM_UNDEFINED(data.data(), data.size());
      const auto before = VALGRIND_COUNT_ERRORS;
      int status = 0;
      if (std::strcmp(argv[2], "cbc") == 0) {
        cbcCalls(*implementation, key, iv, data);
      } else if (std::strcmp(argv[2], "kept") == 0) {
        status = keptKeyCalls(*implementation, key, iv, data);
      } else {
        blockCalls(*implementation, key, data);
      }
      std::printf("reports: %u\n", VALGRIND_COUNT_ERRORS - before);
      return status;
    }
  }
  if (argc < 2) {
    return 0;
  }
  std::fprintf(stderr, "no implementation named %s\n", argv[1]);
  return 2;
}
