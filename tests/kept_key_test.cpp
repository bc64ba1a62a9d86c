// The calls with a kept key, for each CBC implementation: a message cut into
// pieces at random block boundaries gives the reference model's bytes of one
// call; PKCS#7 padding each length, and each way it can be wrong; input that
// does not fit.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "support/reference_aes.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::Block;
using test_support::Bytes;
using test_support::sameBytes;
using test_support::SeededRandom;

constexpr std::int64_t wrongPadding = -1;

class KeptKey : public ::testing::TestWithParam<const Implementation*> {
 protected:
  void SetUp() override {
    const Implementation& implementation = *GetParam();
    if (implementation.supported()) {
      implementation.keySetupEnc(aes128::OutputWords(keptKeys.encryption), messageKey);
      implementation.keySetupDec(aes128::OutputWords(keptKeys.decryption), messageKey);
    }
  }

  void encryptUpdate(Block& iv, std::uint8_t* data, std::size_t length) const {
    GetParam()->encryptUpdate(aes128::ConstWords(keptKeys.encryption), iv, data,
                              static_cast<std::uint32_t>(length));
  }
  void decryptUpdate(Block& iv, std::uint8_t* data, std::size_t length) const {
    GetParam()->decryptUpdate(aes128::ConstWords(keptKeys.decryption), iv, data,
                              static_cast<std::uint32_t>(length));
  }
  std::uint32_t encryptPkcs7(Block& iv, std::uint8_t* data, std::size_t length,
                             std::size_t capacity) const {
    return GetParam()->encryptPkcs7(aes128::ConstWords(keptKeys.encryption), iv, data,
                                    static_cast<std::uint32_t>(length),
                                    static_cast<std::uint32_t>(capacity));
  }
  std::int64_t decryptPkcs7(Block& iv, std::uint8_t* data, std::size_t length) const {
    return GetParam()->decryptPkcs7(aes128::ConstWords(keptKeys.decryption), iv, data,
                                    static_cast<std::uint32_t>(length));
  }

  // A last block that decrypts to `lastBlock`, after one random block.
  Bytes ciphertextEndingIn(const Block& lastBlock) {
    Bytes data = seeded.bytes(aes_block_bytes);
    data.insert(data.end(), lastBlock.begin(), lastBlock.end());
    Block chain = messageIv;
    encryptUpdate(chain, data.data(), data.size());
    return data;
  }

  SeededRandom seeded;
  const Block messageKey = seeded.block();
  const Block messageIv = seeded.block();
  aes_128_cbc_key keptKeys{};
};

// Cut points: 0, then random block boundaries up to `blocks`, in order.
std::vector<std::size_t> cutsAtBlocks(SeededRandom& random, std::size_t blocks) {
  std::vector<std::size_t> cuts{0};
  while (cuts.back() < blocks) {
    cuts.push_back(std::min(blocks, cuts.back() + random.upTo(blocks / 3 + 1)));
  }
  return cuts;
}

TEST_P(KeptKey, AnySplitGivesTheOneCallBytes) {
  SKIP_UNSUPPORTED(GetParam());
  constexpr int messages = 12;
  constexpr std::size_t maxLength = 300 * aes_block_bytes;
  for (int n = 0; n < messages; ++n) {
    const Bytes message = seeded.bytes(seeded.upTo(maxLength));
    const std::size_t padded = (message.size() / aes_block_bytes + 1) * aes_block_bytes;
    Bytes expected = message;
    expected.resize(padded, static_cast<std::uint8_t>(padded - message.size()));
    reference::cbcEncrypt(messageKey, messageIv, expected);
    const std::string what =
        "message " + std::to_string(n) + " of " + std::to_string(message.size()) + " bytes";

    // Encryption: whole blocks through the updates, the rest padded.
    Bytes data = message;
    data.resize(padded);
    const std::vector<std::size_t> cuts = cutsAtBlocks(seeded, message.size() / aes_block_bytes);
    Block iv = messageIv;
    for (std::size_t c = 1; c < cuts.size(); ++c) {
      encryptUpdate(iv, data.data() + cuts[c - 1] * aes_block_bytes,
                    (cuts[c] - cuts[c - 1]) * aes_block_bytes);
    }
    const std::size_t last = cuts.back() * aes_block_bytes;
    ASSERT_EQ(encryptPkcs7(iv, data.data() + last, message.size() - last, padded - last),
              padded - last)
        << what;
    ASSERT_TRUE(sameBytes(what + ": encrypted in pieces", expected, data));
    ASSERT_TRUE(
        sameBytes(what + ": IV after encryption", std::span(expected).last(aes_block_bytes), iv));

    // Decryption at other cuts, the last piece at least a block.
    const std::vector<std::size_t> decryptionCuts =
        cutsAtBlocks(seeded, padded / aes_block_bytes - 1);
    iv = messageIv;
    for (std::size_t c = 1; c < decryptionCuts.size(); ++c) {
      decryptUpdate(iv, data.data() + decryptionCuts[c - 1] * aes_block_bytes,
                    (decryptionCuts[c] - decryptionCuts[c - 1]) * aes_block_bytes);
    }
    const std::size_t lastPiece = decryptionCuts.back() * aes_block_bytes;
    ASSERT_EQ(decryptPkcs7(iv, data.data() + lastPiece, padded - lastPiece),
              static_cast<std::int64_t>(message.size() - lastPiece))
        << what;
    ASSERT_TRUE(
        sameBytes(what + ": decrypted in pieces", message, std::span(data).first(message.size())));
    ASSERT_TRUE(
        sameBytes(what + ": IV after decryption", std::span(expected).last(aes_block_bytes), iv));
  }
}

TEST_P(KeptKey, Pkcs7PadsEachLengthAndReadsItBack) {
  SKIP_UNSUPPORTED(GetParam());
  for (std::size_t padding = 1; padding <= aes_block_bytes; ++padding) {
    const Bytes message = seeded.bytes(2 * aes_block_bytes - padding);
    Bytes data = message;
    data.resize(2 * aes_block_bytes);
    Block iv = messageIv;
    ASSERT_EQ(encryptPkcs7(iv, data.data(), message.size(), data.size()), data.size());
    Bytes plaintext = data;
    Block chain = messageIv;
    decryptUpdate(chain, plaintext.data(), plaintext.size());
    EXPECT_TRUE(std::all_of(plaintext.end() - static_cast<std::ptrdiff_t>(padding), plaintext.end(),
                            [&](std::uint8_t b) { return b == padding; }))
        << "padding " << padding;
    iv = messageIv;
    ASSERT_EQ(decryptPkcs7(iv, data.data(), data.size()),
              static_cast<std::int64_t>(message.size()));
    EXPECT_TRUE(sameBytes("padding " + std::to_string(padding), message,
                          std::span(data).first(message.size())));
  }
}

// Each way to be wrong: the pad byte 0, over 16 (so also over a one-block
// length), and 16 with one byte of the 16 mismatching, at each position.
TEST_P(KeptKey, WrongPaddingZeroesTheBufferAndAdvancesTheIv) {
  SKIP_UNSUPPORTED(GetParam());
  std::vector<std::pair<std::string, Block>> wrongBlocks;
  Block block = seeded.block();
  for (const std::uint8_t padByte : std::array<std::uint8_t, 3>{0, 17, 255}) {
    block.back() = padByte;
    wrongBlocks.emplace_back("pad byte " + std::to_string(padByte), block);
  }
  for (std::size_t position = 0; position + 1 < aes_block_bytes; ++position) {
    block.fill(aes_block_bytes);
    block[position] ^= static_cast<std::uint8_t>(1U << (position % 8));
    wrongBlocks.emplace_back("mismatch at " + std::to_string(position), block);
  }
  for (const auto& [what, lastBlock] : wrongBlocks) {
    for (const std::size_t from : {std::size_t{0}, aes_block_bytes}) {
      Bytes data = ciphertextEndingIn(lastBlock);
      const Block expectedIv = [&] {
        Block last;
        std::copy(data.end() - aes_block_bytes, data.end(), last.begin());
        return last;
      }();
      Block iv = messageIv;
      if (from > 0) {
        decryptUpdate(iv, data.data(), from);
      }
      EXPECT_EQ(decryptPkcs7(iv, data.data() + from, data.size() - from), wrongPadding) << what;
      EXPECT_TRUE(sameBytes(what + ": zeroed", Bytes(data.size() - from, 0),
                            std::span(data).subspan(from)));
      EXPECT_TRUE(sameBytes(what + ": IV", expectedIv, iv));
    }
  }
}

// Lengths that do not fit leave buffer and IV untouched, and nothing is
// written past the capacity.
TEST_P(KeptKey, InputThatDoesNotFitIsTurnedAwayUntouched) {
  SKIP_UNSUPPORTED(GetParam());
  const Bytes original = seeded.bytes(4 * aes_block_bytes);
  const auto untouched = [&](const std::string& what, const Bytes& data, const Block& iv) {
    EXPECT_TRUE(sameBytes(what + ": buffer", original, data));
    EXPECT_TRUE(sameBytes(what + ": IV", messageIv, iv));
  };
  Bytes data = original;
  Block iv = messageIv;
  for (const std::size_t length : {std::size_t{0}, std::size_t{16}, std::size_t{31}}) {
    EXPECT_EQ(encryptPkcs7(iv, data.data(), length, length / 16 * 16 + 15), 0U);
    untouched("capacity one short, length " + std::to_string(length), data, iv);
  }
  EXPECT_EQ(encryptPkcs7(iv, data.data(), 0xfffffff0U, 0xffffffffU), 0U);
  untouched("padded length over 32 bits", data, iv);
  for (const std::size_t length : {0U, 15U, 17U, 63U}) {
    EXPECT_EQ(decryptPkcs7(iv, data.data(), length), wrongPadding);
    untouched("decryption of length " + std::to_string(length), data, iv);
  }
  // A capacity that fits exactly: the bytes after it stay.
  EXPECT_EQ(encryptPkcs7(iv, data.data(), 2 * aes_block_bytes + 3, 3 * aes_block_bytes),
            3 * aes_block_bytes);
  EXPECT_TRUE(sameBytes("after the capacity", std::span(original).last(aes_block_bytes),
                        std::span(data).last(aes_block_bytes)));
}

INSTANTIATE_TEST_SUITE_P(Aes128, KeptKey, test_support::allImplementations(),
                         test_support::NameOfParam());

// The public key set-up holds the block functions' schedules; the wipe
// zeroes both.
TEST(KeptKeyPublicFunctions, SetUpHoldsBothSchedulesAndWipeZeroesThem) {
  SeededRandom random;
  const Block key = random.block();
  aes_128_cbc_key keys{};
  aes_128_cbc_key_setup(keys, key);
  std::array<std::uint32_t, aes_128_round_key_words> encryption{};
  std::array<std::uint32_t, aes_128_round_key_words> decryption{};
  rijndaelKeySetupEnc(encryption, key);
  rijndaelKeySetupDec(decryption, key);
  EXPECT_TRUE(std::equal(encryption.begin(), encryption.end(), std::begin(keys.encryption)));
  EXPECT_TRUE(std::equal(decryption.begin(), decryption.end(), std::begin(keys.decryption)));
  aes_128_cbc_key_wipe(keys);
  EXPECT_TRUE(std::all_of(std::begin(keys.encryption), std::end(keys.encryption),
                          [](std::uint32_t w) { return w == 0; }));
  EXPECT_TRUE(std::all_of(std::begin(keys.decryption), std::end(keys.decryption),
                          [](std::uint32_t w) { return w == 0; }));
}

}  // namespace
