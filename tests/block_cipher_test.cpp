// Properties of the block functions and key schedules on random keys and
// blocks, checked against the reference model.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include <gtest/gtest.h>

#include "cipher/rijndael.hpp"
#include "support/reference_aes.hpp"
#include "support/test_support.hpp"

namespace {

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

TEST(KeySchedule, EncryptionScheduleIsTheKeyThenFips197Expansion) {
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    RoundKeys round_keys;
    rijndaelKeySetupEnc(round_keys, key);
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
TEST(KeySchedule, DecryptionScheduleIsReversedWithInvMixColumnsInside) {
  SeededRandom random;
  constexpr std::size_t last_round = 10;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    RoundKeys encryption;
    RoundKeys decryption;
    rijndaelKeySetupEnc(encryption, key);
    rijndaelKeySetupDec(decryption, key);
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

struct BlockDirection {
  const char* name;
  decltype(&rijndaelKeySetupEnc) key_setup;
  decltype(&rijndaelEncrypt) transform;
  decltype(&reference::encrypt_block) reference;

  friend void PrintTo(const BlockDirection& param, std::ostream* out) { *out << param.name; }
};

class BlockFunction : public ::testing::TestWithParam<BlockDirection> {};

// The reference result, whether written to a separate buffer, in place, at odd
// addresses, or again with the same round keys.
TEST_P(BlockFunction, MatchesReferenceInPlaceMisalignedAndRepeated) {
  const BlockDirection& direction = GetParam();
  SeededRandom random;
  for (int trial = 0; trial < trials; ++trial) {
    const Block key = random.block();
    const Block input = random.block();
    const std::string what = "key " + to_hex(key) + ", input " + to_hex(input);
    RoundKeys round_keys;
    direction.key_setup(round_keys, key);
    const Block expected = direction.reference(key, input);

    Block separate{};
    direction.transform(round_keys, input, separate);
    EXPECT_TRUE(same_bytes(what + ", separate buffers", expected, separate));

    Block in_place = input;
    direction.transform(round_keys, in_place, in_place);
    EXPECT_TRUE(same_bytes(what + ", in place", expected, in_place));

    Block again{};
    direction.transform(round_keys, input, again);
    EXPECT_TRUE(same_bytes(what + ", second call", expected, again));

    // Input at offset 1 and output at offset 17: both at odd addresses.
    std::array<std::uint8_t, 1 + 2 * aes_block_bytes> storage{};
    const auto odd_input = std::span(storage).subspan<1, aes_block_bytes>();
    const auto odd_output = std::span(storage).subspan<1 + aes_block_bytes, aes_block_bytes>();
    std::copy(input.begin(), input.end(), odd_input.begin());
    direction.transform(round_keys, odd_input, odd_output);
    EXPECT_TRUE(same_bytes(what + ", odd addresses", expected, odd_output));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Aes128, BlockFunction,
    ::testing::Values(
        BlockDirection{"Encrypt", rijndaelKeySetupEnc, rijndaelEncrypt, reference::encrypt_block},
        BlockDirection{"Decrypt", rijndaelKeySetupDec, rijndaelDecrypt, reference::decrypt_block}),
    test_support::NameOfParam());

}  // namespace
