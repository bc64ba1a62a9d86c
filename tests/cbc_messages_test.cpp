// The messages calls of every implementation: independent messages under
// one key together, each as it comes out alone.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "support/reference_aes.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::Block;
using test_support::Bytes;
using test_support::sameBytes;
using test_support::SeededRandom;

class CbcMessages : public ::testing::TestWithParam<const Implementation*> {};

// Random counts (0 to 40) of messages of random, unequal lengths (short ones
// and ones of hundreds of blocks, so that slots come free at every point),
// each followed by a guard byte: each message's whole blocks as alone from
// its own IV, which ends as its last ciphertext block; the rest untouched.
TEST_P(CbcMessages, EncryptEachAsAlone) {
  const Implementation* implementation = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  constexpr int cases = 12;
  for (int n = 0; n < cases; ++n) {
    const Block key = random.block();
    std::array<std::uint32_t, aes_128_round_key_words> words{};
    implementation->keySetupEnc(words, key);
    const std::size_t count = random.upTo(40);
    std::vector<Bytes> data(count);
    std::vector<Block> ivs(count);
    std::vector<Bytes> expectedData(count);
    std::vector<Block> expectedIvs(count);
    std::vector<aes_128_cbc_message> messages(count);
    for (std::size_t m = 0; m < count; ++m) {
      const std::size_t blocks = random.upTo(random.upTo(1) == 0 ? 3 : 300);
      const std::size_t length = blocks * aes_block_bytes + random.upTo(aes_block_bytes - 1);
      data[m] = random.bytes(length + 1);
      ivs[m] = random.block();
      expectedData[m] = data[m];
      const std::span<std::uint8_t> whole(expectedData[m].data(), blocks * aes_block_bytes);
      reference::cbcEncrypt(key, ivs[m], whole);
      expectedIvs[m] = ivs[m];
      if (blocks > 0) {
        std::copy(whole.end() - aes_block_bytes, whole.end(), expectedIvs[m].begin());
      }
      messages[m] = {ivs[m].data(), data[m].data(), static_cast<std::uint32_t>(length)};
    }
    implementation->encryptMessages(words, messages);
    for (std::size_t m = 0; m < count; ++m) {
      const std::string what = "case " + std::to_string(n) + ", message " + std::to_string(m) +
                               " of " + std::to_string(count);
      EXPECT_TRUE(sameBytes(what + ", data", expectedData[m], data[m]));
      EXPECT_TRUE(sameBytes(what + ", IV", expectedIvs[m], ivs[m]));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, CbcMessages, test_support::allImplementations(),
                         test_support::NameOfParam());

}  // namespace
