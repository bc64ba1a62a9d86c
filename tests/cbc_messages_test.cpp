// The messages calls of every implementation: independent messages under
// one key together, each as the update call makes it alone.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::Block;
using test_support::Bytes;
using test_support::sameBytes;
using test_support::SeededRandom;

struct MessagesDirection {
  const char* name;
  aes128::KeySetupFunction Implementation::*keySetup;
  aes128::CbcUpdateFunction Implementation::*update;
  aes128::MessagesFunction Implementation::*messages;

  friend void PrintTo(const MessagesDirection& param, std::ostream* out) { *out << param.name; }
};

constexpr std::array<MessagesDirection, 2> directions{{
    {"Encrypt", &Implementation::keySetupEnc, &Implementation::encryptUpdate,
     &Implementation::encryptMessages},
    {"Decrypt", &Implementation::keySetupDec, &Implementation::decryptUpdate,
     &Implementation::decryptMessages},
}};

class CbcMessages
    : public ::testing::TestWithParam<std::tuple<MessagesDirection, const Implementation*>> {};

// Random counts (0 to 40) of messages of random, unequal lengths (short ones
// and ones of hundreds of blocks, so that slots come free at every point),
// each followed by a guard byte: each message and its IV as the update call
// leaves them alone.
TEST_P(CbcMessages, EachAsTheUpdateCallAlone) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  constexpr int cases = 12;
  for (int n = 0; n < cases; ++n) {
    std::array<std::uint32_t, aes_128_round_key_words> words{};
    (implementation->*direction.keySetup)(words, random.block());
    const std::size_t count = random.upTo(40);
    std::vector<Bytes> data(count);
    std::vector<Block> ivs(count);
    std::vector<Bytes> expectedData(count);
    std::vector<Block> expectedIvs(count);
    std::vector<aes_128_cbc_message> messages(count);
    for (std::size_t m = 0; m < count; ++m) {
      const std::size_t blocks = random.upTo(random.upTo(1) == 0 ? 3 : 300);
      const auto length =
          static_cast<std::uint32_t>(blocks * aes_block_bytes + random.upTo(aes_block_bytes - 1));
      data[m] = random.bytes(length + 1);
      ivs[m] = random.block();
      expectedData[m] = data[m];
      expectedIvs[m] = ivs[m];
      (implementation->*direction.update)(words, expectedIvs[m], expectedData[m].data(), length);
      messages[m] = {ivs[m].data(), data[m].data(), length};
    }
    (implementation->*direction.messages)(words, messages);
    for (std::size_t m = 0; m < count; ++m) {
      const std::string what = "case " + std::to_string(n) + ", message " + std::to_string(m) +
                               " of " + std::to_string(count);
      EXPECT_TRUE(sameBytes(what + ", data", expectedData[m], data[m]));
      EXPECT_TRUE(sameBytes(what + ", IV", expectedIvs[m], ivs[m]));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, CbcMessages,
                         ::testing::Combine(::testing::ValuesIn(directions),
                                            test_support::allImplementations()),
                         test_support::NameOfParam());

}  // namespace
