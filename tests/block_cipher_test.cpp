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

using aes_cbc::Implementation;
using test_support::big_endian_bytes;
using test_support::Block;
using test_support::same_bytes;
using test_support::SeededRandom;
using test_support::to_hex;
using RoundKeys = std::array<std::uint32_t, aes_128_round_key_words>;

constexpr int trials = 64;

std::string word_name(const char* schedule, std::size_t index, const Block& key) {
  return std::string(schedule) + " word " + std::to_string(index) + ", key " + to_hex(key);
}

class KeySchedule : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(KeySchedule, EncryptionScheduleIsTheKeyThenFips197Expansion) {
  SKIP_UNSUPPORTED(GetParam());
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    RoundKeys round_keys;
    GetParam()->keySetupEnc(round_keys, key);
    // Words 0-3 are the key read big-endian, on any host.
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_TRUE(same_bytes(word_name("encryption", i, key),
                             std::span<const std::uint8_t>(key).subspan(4 * i, 4),
                             big_endian_bytes(round_keys[i])));
    }
    const reference::KeySchedule expected = reference::expand_key(key);
    for (std::size_t i = 0; i < round_keys.size(); ++i) {
      EXPECT_TRUE(same_bytes(word_name("encryption", i, key), expected[i],
                             big_endian_bytes(round_keys[i])));
    }
  }
}

// Decryption round key r is encryption round key 10 - r, passed through
// InvMixColumns for rounds 1 to 9 only.
TEST_P(KeySchedule, DecryptionScheduleIsReversedWithInvMixColumnsInside) {
  SKIP_UNSUPPORTED(GetParam());
  SeededRandom random;
  constexpr std::size_t last_round = 10;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    RoundKeys encryption;
    RoundKeys decryption;
    GetParam()->keySetupEnc(encryption, key);
    GetParam()->keySetupDec(decryption, key);
    for (std::size_t round = 0; round <= last_round; ++round) {
      for (std::size_t column = 0; column < 4; ++column) {
        const reference::Word source =
            big_endian_bytes(encryption[4 * (last_round - round) + column]);
        const bool outer = round == 0 || round == last_round;
        EXPECT_TRUE(same_bytes(word_name("decryption", 4 * round + column, key),
                               outer ? source : reference::inv_mix_column(source),
                               big_endian_bytes(decryption[4 * round + column])));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, KeySchedule, test_support::all_implementations(),
                         test_support::NameOfParam());

struct BlockDirection {
  const char* name;
  aes_cbc::KeySetupFunction Implementation::*key_setup;
  aes_cbc::BlockFunction Implementation::*transform;
  decltype(&reference::encrypt_block) reference;
  // The public functions of that direction.
  decltype(&rijndaelKeySetupEnc) public_key_setup;
  decltype(&rijndaelEncrypt) public_transform;

  friend void PrintTo(const BlockDirection& param, std::ostream* out) { *out << param.name; }
};

constexpr std::array<BlockDirection, 2> directions{{
    {"Encrypt", &Implementation::keySetupEnc, &Implementation::encryptBlock,
     reference::encrypt_block, rijndaelKeySetupEnc, rijndaelEncrypt},
    {"Decrypt", &Implementation::keySetupDec, &Implementation::decryptBlock,
     reference::decrypt_block, rijndaelKeySetupDec, rijndaelDecrypt},
}};

class BlockFunction
    : public ::testing::TestWithParam<std::tuple<BlockDirection, const Implementation*>> {};

// The reference result, whether written to a separate buffer, in place, at odd
// addresses, or again with the same round keys.
TEST_P(BlockFunction, MatchesReferenceInPlaceMisalignedAndRepeated) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  const auto transform = implementation->*direction.transform;
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    const Block input = random.block();
    const std::string what = "key " + to_hex(key) + ", input " + to_hex(input);
    RoundKeys round_keys;
    (implementation->*direction.key_setup)(round_keys, key);
    const Block expected = direction.reference(key, input);

    Block separate{};
    transform(round_keys, input, separate);
    EXPECT_TRUE(same_bytes(what + ", separate buffers", expected, separate));

    Block in_place = input;
    transform(round_keys, in_place, in_place);
    EXPECT_TRUE(same_bytes(what + ", in place", expected, in_place));

    Block again{};
    transform(round_keys, input, again);
    EXPECT_TRUE(same_bytes(what + ", second call", expected, again));

    // Input at offset 1 and output at offset 17: both at odd addresses.
    std::array<std::uint8_t, 1 + 2 * aes_block_bytes> storage{};
    const auto odd_input = std::span(storage).subspan<1, aes_block_bytes>();
    const auto odd_output = std::span(storage).subspan<1 + aes_block_bytes, aes_block_bytes>();
    std::copy(input.begin(), input.end(), odd_input.begin());
    transform(round_keys, odd_input, odd_output);
    EXPECT_TRUE(same_bytes(what + ", odd addresses", expected, odd_output));
  }
}

// The layout is a contract: the block functions take whatever 44 words they
// are given, all of them, as the table-driven ones do. Words that are no
// schedule at all give every implementation the table-driven result.
TEST_P(BlockFunction, TakeAnyWordsAsTheTableDrivenOnesDo) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    RoundKeys round_keys;
    for (std::uint32_t& word : round_keys) {
      const Block bytes = random.block();
      word = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
             (std::uint32_t{bytes[2]} << 8) | bytes[3];
    }
    const Block input = random.block();
    Block expected{};
    (aes_cbc::tableImplementation.*direction.transform)(round_keys, input, expected);
    Block produced{};
    (implementation->*direction.transform)(round_keys, input, produced);
    EXPECT_TRUE(
        same_bytes("input " + to_hex(input) + ", words " + std::to_string(round_keys[0]) + "...",
                   expected, produced));
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, BlockFunction,
                         ::testing::Combine(::testing::ValuesIn(directions),
                                            test_support::all_implementations()),
                         test_support::NameOfParam());

// The public block functions run on the implementation that the CBC
// functions chose.
TEST(BlockPublicFunctions, RunOnTheChosenImplementation) {
  const Implementation& chosen = aes_cbc::chosen();
  EXPECT_STREQ(chosen.name, aes_128_cbc_implementation());
  SeededRandom random;
  const Block key = random.block();
  const Block input = random.block();
  for (const BlockDirection& direction : directions) {
    RoundKeys expected_keys;
    RoundKeys round_keys;
    (chosen.*direction.key_setup)(expected_keys, key);
    direction.public_key_setup(round_keys, key);
    EXPECT_EQ(round_keys, expected_keys) << direction.name;
    Block expected{};
    Block produced{};
    (chosen.*direction.transform)(round_keys, input, expected);
    direction.public_transform(round_keys, input, produced);
    EXPECT_TRUE(same_bytes(direction.name, direction.reference(key, input), produced));
    EXPECT_EQ(produced, expected) << direction.name;
  }
}

}  // namespace
