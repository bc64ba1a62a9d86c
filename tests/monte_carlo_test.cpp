// The AESAVS Monte Carlo tests for AES-128 (section 6.4 of the AESAVS
// document): 100 records, each the last output of 1000 chained operations
// whose key, IV and input come from the record before. CBC runs through each
// implementation's CBC functions, ECB through its block functions.
#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "cipher/rijndael.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::Block;
using test_support::Record;

constexpr std::size_t innerIterations = 1000;
constexpr std::size_t outerIterations = 100;

// The last output of the inner loop and the one before it.
using LastTwo = std::pair<Block, Block>;

// ECB through the implementation's block functions: each output is the next
// input.
LastTwo ecbInnerLoop(const Implementation& implementation, bool encrypt, const Block& key,
                     Block text) {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  (encrypt ? implementation.keySetupEnc : implementation.keySetupDec)(roundKeys, key);
  const aes128::BlockFunction block =
      encrypt ? implementation.encryptBlock : implementation.decryptBlock;
  Block previous{};
  for (std::size_t j = 0; j < innerIterations; ++j) {
    previous = text;
    block(roundKeys, text, text);
  }
  return {text, previous};
}

// CBC, one block per call with the chaining done here: input j+1 is output
// j-1 (the IV for j = 0), and the chaining value is the previous ciphertext,
// which is the output when encrypting and the input when decrypting.
LastTwo cbcInnerLoop(const Implementation& implementation, bool encrypt, const Block& key,
                     const Block& iv, Block input) {
  const aes128::CbcFunction cbc = encrypt ? implementation.encrypt : implementation.decrypt;
  Block chain = iv;
  Block previousOutput = iv;
  Block output{};
  for (std::size_t j = 0; j < innerIterations; ++j) {
    output = input;
    cbc(key, chain, output.data(), aes_block_bytes);
    chain = encrypt ? output : input;
    input = previousOutput;
    previousOutput = output;
  }
  return {output, input};
}

struct MonteCarloSet {
  const char* name;
  const char* file;
  bool cbc;
  bool encrypt;

  friend void PrintTo(const MonteCarloSet& param, std::ostream* out) { *out << param.name; }
};

class MonteCarlo
    : public ::testing::TestWithParam<std::tuple<MonteCarloSet, const Implementation*>> {};

TEST_P(MonteCarlo, AesavsProcedure) {
  const auto& [set, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  std::vector<Record> records = test_support::readVectorFile(set.file);
  const std::string section = set.encrypt ? "ENCRYPT" : "DECRYPT";
  std::erase_if(records, [&](const Record& record) { return record.section != section; });
  ASSERT_EQ(records.size(), outerIterations);

  const char* inputName = set.encrypt ? "PLAINTEXT" : "CIPHERTEXT";
  const char* outputName = set.encrypt ? "CIPHERTEXT" : "PLAINTEXT";
  Block key = records.front().block("KEY");
  Block iv = set.cbc ? records.front().block("IV") : Block{};
  Block input = records.front().block(inputName);
  for (const Record& record : records) {
    const auto [last, before_last] =
        set.cbc ? cbcInnerLoop(*implementation, set.encrypt, key, iv, input)
                : ecbInnerLoop(*implementation, set.encrypt, key, input);
    // Each record starts from the one before, so the first mismatch spoils the rest.
    ASSERT_TRUE(test_support::sameBytes(record.where(), record.block(outputName), last));
    for (std::size_t j = 0; j < key.size(); ++j) {
      key[j] ^= last[j];
    }
    iv = last;
    input = set.cbc ? before_last : last;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Aes128, MonteCarlo,
    ::testing::Combine(::testing::Values(MonteCarloSet{"EcbEncrypt", "ECBMCT128.rsp", false, true},
                                         MonteCarloSet{"EcbDecrypt", "ECBMCT128.rsp", false, false},
                                         MonteCarloSet{"CbcEncrypt", "CBCMCT128.rsp", true, true},
                                         MonteCarloSet{"CbcDecrypt", "CBCMCT128.rsp", true, false}),
                       test_support::allImplementations()),
    test_support::NameOfParam());

}  // namespace
