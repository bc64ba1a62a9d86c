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

using aes_cbc::Implementation;
using test_support::Block;
using test_support::Bytes;
using test_support::Record;
using test_support::same_bytes;

enum class Mode { ecb, cbc };

// ECB is the implementation's block functions, block by block.
Bytes run_library(const Implementation& implementation, Mode mode, bool encrypt, const Block& key,
                  const Block& iv, const Bytes& input) {
  Bytes output = input;
  if (mode == Mode::cbc) {
    (encrypt ? implementation.encrypt : implementation.decrypt)(
        key, iv, output.data(), static_cast<std::uint32_t>(output.size()));
    return output;
  }
  std::array<std::uint32_t, aes_128_round_key_words> round_keys{};
  (encrypt ? implementation.keySetupEnc : implementation.keySetupDec)(round_keys, key);
  for (std::size_t offset = 0; offset + aes_block_bytes <= input.size();
       offset += aes_block_bytes) {
    (encrypt ? implementation.encryptBlock : implementation.decryptBlock)(
        round_keys, std::span<const std::uint8_t, aes_block_bytes>(&input[offset], aes_block_bytes),
        std::span<std::uint8_t, aes_block_bytes>(&output[offset], aes_block_bytes));
  }
  return output;
}

void check_direction(const Implementation& implementation, Mode mode, bool encrypt,
                     const Record& record) {
  const Bytes plaintext = record.bytes("PLAINTEXT");
  const Bytes ciphertext = record.bytes("CIPHERTEXT");
  const Block iv = mode == Mode::cbc ? record.block("IV") : Block{};
  EXPECT_TRUE(
      same_bytes(record.where() + (encrypt ? " encrypt" : " decrypt") + ", " + implementation.name,
                 encrypt ? ciphertext : plaintext,
                 run_library(implementation, mode, encrypt, record.block("KEY"), iv,
                             encrypt ? plaintext : ciphertext)));
}

class Fips197 : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(Fips197, AppendixA1KeyExpansionAllWords) {
  SKIP_UNSUPPORTED(GetParam());
  const std::vector<Record> records = test_support::read_vector_file("FIPS197.txt");
  ASSERT_EQ(records.size(), 2u);
  const Record& expansion = records[0];
  std::array<std::uint32_t, aes_128_round_key_words> round_keys{};
  GetParam()->keySetupEnc(round_keys, expansion.block("KEY"));
  for (std::size_t i = 0; i < round_keys.size(); ++i) {
    const std::string name = "W" + std::to_string(i);
    EXPECT_TRUE(same_bytes(expansion.where() + " " + name, expansion.bytes(name),
                           test_support::big_endian_bytes(round_keys[i])));
  }
}

TEST_P(Fips197, AppendixC1BothDirections) {
  SKIP_UNSUPPORTED(GetParam());
  const std::vector<Record> records = test_support::read_vector_file("FIPS197.txt");
  ASSERT_EQ(records.size(), 2u);
  check_direction(*GetParam(), Mode::ecb, true, records[1]);
  check_direction(*GetParam(), Mode::ecb, false, records[1]);
}

INSTANTIATE_TEST_SUITE_P(Aes128, Fips197, test_support::all_implementations(),
                         test_support::NameOfParam());

class Rfc3602 : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(Rfc3602, Cases1To4BothDirections) {
  SKIP_UNSUPPORTED(GetParam());
  const std::vector<Record> records = test_support::read_vector_file("RFC3602.txt");
  ASSERT_EQ(records.size(), 4u);
  for (const Record& record : records) {
    check_direction(*GetParam(), Mode::cbc, true, record);
    check_direction(*GetParam(), Mode::cbc, false, record);
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, Rfc3602, test_support::all_implementations(),
                         test_support::NameOfParam());

struct CavpSet {
  const char* name;  // the file name without ".rsp"
  Mode mode;
  std::size_t records_per_direction;

  friend void PrintTo(const CavpSet& param, std::ostream* out) { *out << param.name; }
};

class CavpKnownAnswer
    : public ::testing::TestWithParam<std::tuple<CavpSet, const Implementation*>> {};

TEST_P(CavpKnownAnswer, EveryRecordInItsSectionsDirection) {
  const auto& [set, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  const std::vector<Record> records =
      test_support::read_vector_file(std::string(set.name) + ".rsp");
  const auto in_section = [&](const char* section) {
    return std::count_if(records.begin(), records.end(),
                         [&](const Record& record) { return record.section == section; });
  };
  const auto expected = static_cast<std::ptrdiff_t>(set.records_per_direction);
  ASSERT_EQ(in_section("ENCRYPT"), expected);
  ASSERT_EQ(in_section("DECRYPT"), expected);
  ASSERT_EQ(records.size(), 2 * set.records_per_direction) << "records outside a section";
  for (const Record& record : records) {
    check_direction(*implementation, set.mode, record.section == "ENCRYPT", record);
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
        test_support::all_implementations()),
    test_support::NameOfParam());

}  // namespace
