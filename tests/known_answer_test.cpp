// Known answers: FIPS-197 appendices A.1 and C.1, the four cases of RFC 3602
// section 4, and the NIST CAVP AESAVS known-answer and multi-block message
// sets for AES-128, CBC through each CBC implementation and ECB through the
// block functions and each hardware implementation.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "cipher/rijndael.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::Block;
using test_support::Bytes;
using test_support::Record;
using test_support::sameBytes;

enum class Mode { ecb, cbc };

// ECB is the implementation's block functions, block by block.
Bytes runLibrary(const Implementation& implementation, Mode mode, bool encrypt, const Block& key,
                 const Block& iv, const Bytes& input) {
  Bytes output = input;
  if (mode == Mode::cbc) {
    (encrypt ? implementation.encrypt : implementation.decrypt)(
        key, iv, output.data(), static_cast<std::uint32_t>(output.size()));
    return output;
  }
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  (encrypt ? implementation.keySetupEnc : implementation.keySetupDec)(roundKeys, key);
  for (std::size_t offset = 0; offset + aes_block_bytes <= input.size();
       offset += aes_block_bytes) {
    (encrypt ? implementation.encryptBlock : implementation.decryptBlock)(
        roundKeys, std::span<const std::uint8_t, aes_block_bytes>(&input[offset], aes_block_bytes),
        std::span<std::uint8_t, aes_block_bytes>(&output[offset], aes_block_bytes));
  }
  return output;
}

void checkDirection(const Implementation& implementation, Mode mode, bool encrypt,
                    const Record& record) {
  const Bytes plaintext = record.bytes("PLAINTEXT");
  const Bytes ciphertext = record.bytes("CIPHERTEXT");
  const Block iv = mode == Mode::cbc ? record.block("IV") : Block{};
  EXPECT_TRUE(
      sameBytes(record.where() + (encrypt ? " encrypt" : " decrypt") + ", " + implementation.name,
                encrypt ? ciphertext : plaintext,
                runLibrary(implementation, mode, encrypt, record.block("KEY"), iv,
                           encrypt ? plaintext : ciphertext)));
}

class Fips197 : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(Fips197, AppendixA1KeyExpansionAllWords) {
  SKIP_UNSUPPORTED(GetParam());
  const std::vector<Record> records = test_support::readVectorFile("FIPS197.txt");
  ASSERT_EQ(records.size(), 2u);
  const Record& expansion = records[0];
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  GetParam()->keySetupEnc(roundKeys, expansion.block("KEY"));
  for (std::size_t i = 0; i < roundKeys.size(); ++i) {
    const std::string name = "W" + std::to_string(i);
    EXPECT_TRUE(sameBytes(expansion.where() + " " + name, expansion.bytes(name),
                          test_support::bigEndianBytes(roundKeys[i])));
  }
}

TEST_P(Fips197, AppendixC1BothDirections) {
  SKIP_UNSUPPORTED(GetParam());
  const std::vector<Record> records = test_support::readVectorFile("FIPS197.txt");
  ASSERT_EQ(records.size(), 2u);
  checkDirection(*GetParam(), Mode::ecb, true, records[1]);
  checkDirection(*GetParam(), Mode::ecb, false, records[1]);
}

INSTANTIATE_TEST_SUITE_P(Aes128, Fips197, test_support::allImplementations(),
                         test_support::NameOfParam());

class Rfc3602 : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(Rfc3602, Cases1To4BothDirections) {
  SKIP_UNSUPPORTED(GetParam());
  const std::vector<Record> records = test_support::readVectorFile("RFC3602.txt");
  ASSERT_EQ(records.size(), 4u);
  for (const Record& record : records) {
    checkDirection(*GetParam(), Mode::cbc, true, record);
    checkDirection(*GetParam(), Mode::cbc, false, record);
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, Rfc3602, test_support::allImplementations(),
                         test_support::NameOfParam());

struct CavpSet {
  const char* name;  // the file name without ".rsp"
  Mode mode;
  std::size_t recordsPerDirection;

  friend void PrintTo(const CavpSet& param, std::ostream* out) { *out << param.name; }
};

class CavpKnownAnswer
    : public ::testing::TestWithParam<std::tuple<CavpSet, const Implementation*>> {};

TEST_P(CavpKnownAnswer, EveryRecordInItsSectionsDirection) {
  const auto& [set, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  const std::vector<Record> records = test_support::readVectorFile(std::string(set.name) + ".rsp");
  const auto inSection = [&](const char* section) {
    return std::count_if(records.begin(), records.end(),
                         [&](const Record& record) { return record.section == section; });
  };
  const auto expected = static_cast<std::ptrdiff_t>(set.recordsPerDirection);
  ASSERT_EQ(inSection("ENCRYPT"), expected);
  ASSERT_EQ(inSection("DECRYPT"), expected);
  ASSERT_EQ(records.size(), 2 * set.recordsPerDirection) << "records outside a section";
  for (const Record& record : records) {
    checkDirection(*implementation, set.mode, record.section == "ENCRYPT", record);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Aes128, CavpKnownAnswer,
    ::testing::Combine(
        ::testing::Values(
            CavpSet{"ECBGFSbox128", Mode::ecb, 7}, CavpSet{"ECBKeySbox128", Mode::ecb, 21},
            CavpSet{"ECBVarKey128", Mode::ecb, 128}, CavpSet{"ECBVarTxt128", Mode::ecb, 128},
            CavpSet{"ECBMMT128", Mode::ecb, 10}, CavpSet{"CBCGFSbox128", Mode::cbc, 7},
            CavpSet{"CBCKeySbox128", Mode::cbc, 21}, CavpSet{"CBCVarKey128", Mode::cbc, 128},
            CavpSet{"CBCVarTxt128", Mode::cbc, 128}, CavpSet{"CBCMMT128", Mode::cbc, 10}),
        test_support::allImplementations()),
    test_support::NameOfParam());

}  // namespace
