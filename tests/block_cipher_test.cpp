// Properties of the block functions and key schedules of every
// implementation on random keys and blocks, checked against the reference
// model; the word layout of their round-key arrays, the same in all; and the
// public functions, which run on the chosen one.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "support/reference_aes.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::bigEndianBytes;
using test_support::Block;
using test_support::Bytes;
using test_support::sameBytes;
using test_support::SeededRandom;
using test_support::toHex;
using RoundKeys = std::array<std::uint32_t, aes_128_round_key_words>;

constexpr int trials = 64;

std::string wordName(const char* schedule, std::size_t index, const Block& key) {
  return std::string(schedule) + " word " + std::to_string(index) + ", key " + toHex(key);
}

class KeySchedule : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(KeySchedule, EncryptionScheduleIsTheKeyThenFips197Expansion) {
  SKIP_UNSUPPORTED(GetParam());
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    RoundKeys roundKeys;
    GetParam()->keySetupEnc(roundKeys, key);
    // Words 0-3 are the key read big-endian, on any host.
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(sameBytes(wordName("encryption", i, key),
                            std::span<const std::uint8_t>(key).subspan(4 * i, 4),
                            bigEndianBytes(roundKeys[i])));
    }
    const reference::KeySchedule expected = reference::expandKey(key);
    for (std::size_t i = 0; i < roundKeys.size(); ++i) {
      EXPECT_TRUE(
          sameBytes(wordName("encryption", i, key), expected[i], bigEndianBytes(roundKeys[i])));
    }
  }
}

// Decryption round key r is encryption round key 10 - r, passed through
// InvMixColumns for rounds 1 to 9 only.
TEST_P(KeySchedule, DecryptionScheduleIsReversedWithInvMixColumnsInside) {
  SKIP_UNSUPPORTED(GetParam());
  SeededRandom random;
  constexpr std::size_t lastRound = 10;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    RoundKeys encryption;
    RoundKeys decryption;
    GetParam()->keySetupEnc(encryption, key);
    GetParam()->keySetupDec(decryption, key);
    for (std::size_t round = 0; round <= lastRound; ++round) {
      for (std::size_t column = 0; column < 4; ++column) {
        const reference::Word source = bigEndianBytes(encryption[4 * (lastRound - round) + column]);
        const bool outer = round == 0 || round == lastRound;
        EXPECT_TRUE(sameBytes(wordName("decryption", 4 * round + column, key),
                              outer ? source : reference::invMixColumn(source),
                              bigEndianBytes(decryption[4 * round + column])));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, KeySchedule, test_support::allImplementations(),
                         test_support::NameOfParam());

struct BlockDirection {
  const char* name;
  aes128::KeySetupFunction Implementation::*keySetup;
  aes128::BlockFunction Implementation::*transform;
  decltype(&reference::encryptBlock) reference;
  // The reference over any 44 words, as the direction's layout reads them.
  decltype(&reference::encryptWithWords) referenceWithWords;
  // The public functions of that direction.
  decltype(&rijndaelKeySetupEnc) publicKeySetup;
  decltype(&rijndaelEncrypt) publicTransform;
  // Many blocks at once.
  aes128::BlocksFunction Implementation::*transformBlocks;

  friend void PrintTo(const BlockDirection& param, std::ostream* out) { *out << param.name; }
};

constexpr std::array<BlockDirection, 2> directions{{
    {"Encrypt", &Implementation::keySetupEnc, &Implementation::encryptBlock,
     reference::encryptBlock, reference::encryptWithWords, rijndaelKeySetupEnc, rijndaelEncrypt,
     &Implementation::encryptBlocks},
    {"Decrypt", &Implementation::keySetupDec, &Implementation::decryptBlock,
     reference::decryptBlock, reference::decryptWithWords, rijndaelKeySetupDec, rijndaelDecrypt,
     &Implementation::decryptBlocks},
}};

class BlockFunction
    : public ::testing::TestWithParam<std::tuple<BlockDirection, const Implementation*>> {};

// `expected`, whether written to a separate buffer, in place, at odd
// addresses, or again with the same round keys.
void expectEveryWay(aes128::BlockFunction transform, const RoundKeys& roundKeys, const Block& input,
                    const Block& expected, const std::string& what) {
  Block separate{};
  transform(roundKeys, input, separate);
  EXPECT_TRUE(sameBytes(what + ", separate buffers", expected, separate));

  Block inPlace = input;
  transform(roundKeys, inPlace, inPlace);
  EXPECT_TRUE(sameBytes(what + ", in place", expected, inPlace));

  Block again{};
  transform(roundKeys, input, again);
  EXPECT_TRUE(sameBytes(what + ", second call", expected, again));

  // Input at offset 1 and output at offset 17: both at odd addresses.
  std::array<std::uint8_t, 1 + 2 * aes_block_bytes> storage{};
  const auto oddInput = std::span(storage).subspan<1, aes_block_bytes>();
  const auto oddOutput = std::span(storage).subspan<1 + aes_block_bytes, aes_block_bytes>();
  std::copy(input.begin(), input.end(), oddInput.begin());
  transform(roundKeys, oddInput, oddOutput);
  EXPECT_TRUE(sameBytes(what + ", odd addresses", expected, oddOutput));
}

TEST_P(BlockFunction, MatchesReferenceInPlaceMisalignedAndRepeated) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    const Block input = random.block();
    RoundKeys roundKeys;
    (implementation->*direction.keySetup)(roundKeys, key);
    expectEveryWay(implementation->*direction.transform, roundKeys, input,
                   direction.reference(key, input),
                   "key " + toHex(key) + ", input " + toHex(input));
  }
}

// The layout is a contract: the block functions take whatever 44 words they
// are given, all of them. Words that are no schedule at all give every
// implementation the reference's result over those words.
TEST_P(BlockFunction, TakeAnyWordsInTheDocumentedLayout) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    RoundKeys roundKeys;
    for (std::uint32_t& word : roundKeys) {
      const Block bytes = random.block();
      word = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
             (std::uint32_t{bytes[2]} << 8) | bytes[3];
    }
    const Block input = random.block();
    const Block expected = direction.referenceWithWords(roundKeys, input);
    Block produced{};
    (implementation->*direction.transform)(roundKeys, input, produced);
    EXPECT_TRUE(
        sameBytes("input " + toHex(input) + ", words " + std::to_string(roundKeys[0]) + "...",
                  expected, produced));
  }
}

// Each whole block of a buffer as one block call makes it, in place or into
// another buffer, at any offset; every block count up to 40 (groups and each
// tail of every core, twice over); the partial block after them and the
// rest of the output untouched.
TEST_P(BlockFunction, ManyBlocksEqualOneBlockCalls) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  RoundKeys roundKeys;
  (implementation->*direction.keySetup)(roundKeys, random.block());
  const aes128::BlocksFunction many = implementation->*direction.transformBlocks;
  many(roundKeys, nullptr, nullptr, static_cast<std::uint32_t>(random.upTo(aes_block_bytes - 1)));
  constexpr std::size_t maxBlocks = 40;
  for (std::size_t blocks = 0; blocks <= maxBlocks; ++blocks) {
    const auto length =
        static_cast<std::uint32_t>(blocks * aes_block_bytes + random.upTo(aes_block_bytes - 1));
    const std::size_t offset = random.upTo(aes_block_bytes);
    const bool inPlace = random.upTo(1) == 0;
    const Bytes input = random.bytes(offset + length + aes_block_bytes);
    Bytes output = inPlace ? input : random.bytes(input.size());
    Bytes expected = output;
    for (std::size_t b = 0; b < blocks; ++b) {
      const std::size_t at = offset + b * aes_block_bytes;
      (implementation->*direction.transform)(
          roundKeys, std::span<const std::uint8_t, aes_block_bytes>(&input[at], aes_block_bytes),
          std::span<std::uint8_t, aes_block_bytes>(&expected[at], aes_block_bytes));
    }
    many(roundKeys, (inPlace ? output : input).data() + offset, output.data() + offset, length);
    EXPECT_TRUE(sameBytes(std::to_string(blocks) + " blocks, length " + std::to_string(length) +
                              ", offset " + std::to_string(offset) +
                              (inPlace ? ", in place" : ", out of place"),
                          expected, output));
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, BlockFunction,
                         ::testing::Combine(::testing::ValuesIn(directions),
                                            test_support::allImplementations()),
                         test_support::NameOfParam());

// The public block functions run on the implementation that the CBC
// functions chose.
TEST(BlockPublicFunctions, RunOnTheChosenImplementation) {
  const Implementation& chosen = aes128::chosen();
  EXPECT_STREQ(chosen.name, aes_128_cbc_implementation());
  SeededRandom random;
  const Block key = random.block();
  const Block input = random.block();
  for (const BlockDirection& direction : directions) {
    RoundKeys expectedKeys;
    RoundKeys roundKeys;
    (chosen.*direction.keySetup)(expectedKeys, key);
    direction.publicKeySetup(roundKeys, key);
    EXPECT_EQ(roundKeys, expectedKeys) << direction.name;
    Block expected{};
    Block produced{};
    (chosen.*direction.transform)(roundKeys, input, expected);
    direction.publicTransform(roundKeys, input, produced);
    EXPECT_TRUE(sameBytes(direction.name, direction.reference(key, input), produced));
    EXPECT_EQ(produced, expected) << direction.name;
  }
}

}  // namespace
