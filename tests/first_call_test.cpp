// Several threads make their first CBC calls at the same moment, while the
// public functions choose their implementation, then go on calling, each on
// buffers of its own. The program runs in a process of its own, so these
// really are the first calls. Every result must be RFC 3602's Case #2; built
// with ThreadSanitizer (the tsan preset), an unsynchronised access to the
// choice is a report as well.
#include <array>
#include <cstddef>
#include <cstdint>
#include <latch>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "support/test_support.hpp"

namespace {

using test_support::Block;
using test_support::Bytes;
using test_support::Record;

constexpr std::size_t threadCount = 8;
constexpr int roundTripsPerThread = 200;

TEST(FirstCall, ThreadsRacingToChooseAllGetTheKnownAnswer) {
  const std::vector<Record> records = test_support::readVectorFile("RFC3602.txt");
  ASSERT_EQ(records.size(), 4u);
  const Record& case2 = records[1];
  const Block key = case2.block("KEY");
  const Block iv = case2.block("IV");
  const Bytes plaintext = case2.bytes("PLAINTEXT");
  const Bytes ciphertext = case2.bytes("CIPHERTEXT");
  const auto length = static_cast<std::uint32_t>(plaintext.size());

  std::array<int, threadCount> wrongResults{};
  std::latch allReady(threadCount);
  {
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < threadCount; ++t) {
      threads.emplace_back([&, t] {
        Bytes data = plaintext;
        allReady.arrive_and_wait();
        for (int i = 0; i < roundTripsPerThread; ++i) {
          aes_128_cbc_encrypt(key, iv, data.data(), length);
          wrongResults[t] += data == ciphertext ? 0 : 1;
          aes_128_cbc_decrypt(key, iv, data.data(), length);
          wrongResults[t] += data == plaintext ? 0 : 1;
        }
      });
    }
  }
  for (std::size_t t = 0; t < threadCount; ++t) {
    EXPECT_EQ(wrongResults[t], 0) << "thread " << t << " of " << threadCount;
  }
}

}  // namespace
