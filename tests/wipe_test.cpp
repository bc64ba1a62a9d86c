// Whether a call leaves key material or plaintext behind on the stack: the
// stack below the caller's frame is painted, the CBC functions, the block
// functions (both key set-ups, then each block encrypted and decrypted) or
// the many-block functions (both key set-ups, then all blocks each way) or
// the calls with a kept key (updates, messages) run on a known message, and
// what they left there is searched for every 16-byte window of the
// implementation's round keys, in the form its core holds them and as the
// block functions' words, and for every plaintext block.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using aes128::Schedule;
using test_support::Block;
using test_support::Bytes;
using Words = std::array<std::uint32_t, aes128::roundKeyWords>;

// Far more than any implementation's frames.
constexpr std::size_t stackBytes = std::size_t{64} * 1024;
constexpr std::uint8_t paint = 0x5a;

// Why the search cannot be trusted in this build, or null.
const char* whyNotHere() {
#if !defined(__OPTIMIZE__)
  return "an unoptimised build keeps every temporary on the stack, unwiped";
#elif defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return "a sanitizer moves locals to stacks and shadows of its own";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  return "a sanitizer moves locals to stacks and shadows of its own";
#endif
#endif
  if (test_support::underValgrind()) {
    return "valgrind reports every read of the stack below its pointer";
  }
  return nullptr;
}

// Both functions below take their frames where the calls under test took
// theirs, just below the caller's. The assembly statements claim to read and
// write the area, so that the compiler keeps the memset and takes the bytes
// read as defined.
[[gnu::noinline]] void paintStack() {
  std::uint8_t area[stackBytes];
  std::memset(area, paint, sizeof area);
  __asm__ __volatile__("" : : "r"(area) : "memory");
}

[[gnu::noinline]] void copyStack(Bytes& copy) {
  std::uint8_t area[stackBytes];
  __asm__ __volatile__("" : : "r"(area) : "memory");
  std::memcpy(copy.data(), area, sizeof area);
}

// What the calls take, all in the test's frame or on the heap, above the
// stack that is searched: the block functions' round-key arrays are the
// caller's.
struct Inputs {
  Block key;
  Block iv;
  Bytes data;
  Words encryption{};
  Words decryption{};
};

// The calls under test, in place on the data: the CBC functions, the block
// functions, or the updates with a kept key.
struct Calls {
  const char* name;
  void (*run)(const Implementation& implementation, Inputs& inputs);
};

// For the failure messages.
void PrintTo(const Calls& calls, std::ostream* out) {
  *out << calls.name;
}

void cbcCalls(const Implementation& implementation, Inputs& inputs) {
  const auto length = static_cast<std::uint32_t>(inputs.data.size());
  implementation.encrypt(inputs.key, inputs.iv, inputs.data.data(), length);
  implementation.decrypt(inputs.key, inputs.iv, inputs.data.data(), length);
}

void blockCalls(const Implementation& implementation, Inputs& inputs) {
  implementation.keySetupEnc(inputs.encryption, inputs.key);
  implementation.keySetupDec(inputs.decryption, inputs.key);
  for (std::size_t at = 0; at < inputs.data.size(); at += 16) {
    const std::span<std::uint8_t, 16> block(inputs.data.data() + at, 16);
    implementation.encryptBlock(inputs.encryption, block, block);
    implementation.decryptBlock(inputs.decryption, block, block);
  }
}

void manyBlockCalls(const Implementation& implementation, Inputs& inputs) {
  implementation.keySetupEnc(inputs.encryption, inputs.key);
  implementation.keySetupDec(inputs.decryption, inputs.key);
  const auto length = static_cast<std::uint32_t>(inputs.data.size());
  implementation.encryptBlocks(inputs.encryption, inputs.data.data(), inputs.data.data(), length);
  implementation.decryptBlocks(inputs.decryption, inputs.data.data(), inputs.data.data(), length);
}

void keptKeyCalls(const Implementation& implementation, Inputs& inputs) {
  implementation.keySetupEnc(inputs.encryption, inputs.key);
  implementation.keySetupDec(inputs.decryption, inputs.key);
  const auto length = static_cast<std::uint32_t>(inputs.data.size());
  Block encryptionIv = inputs.iv;
  Block decryptionIv = inputs.iv;
  implementation.encryptUpdate(inputs.encryption, encryptionIv, inputs.data.data(), length);
  implementation.decryptUpdate(inputs.decryption, decryptionIv, inputs.data.data(), length);
  // The messages calls, on three messages of unequal lengths.
  std::array<Block, 3> ivs{inputs.iv, inputs.iv, inputs.iv};
  std::uint8_t* data = inputs.data.data();
  const std::array<aes_128_cbc_message, 3> messages{
      {{ivs[0].data(), data, 5 * 16},
       {ivs[1].data(), data + std::ptrdiff_t{5} * 16, 12 * 16},
       {ivs[2].data(), data + std::ptrdiff_t{17} * 16, length - 17 * 16}}};
  implementation.encryptMessages(inputs.encryption, messages);
  ivs = {inputs.iv, inputs.iv, inputs.iv};
  implementation.decryptMessages(inputs.decryption, messages);
}

[[gnu::noinline]] void runCalls(const Implementation& implementation, const Calls& calls,
                                Inputs& inputs, Bytes& leftovers) {
  paintStack();
  calls.run(implementation, inputs);
  copyStack(leftovers);
}

// The 16-byte windows of an implementation's round keys: each vector or
// group of words that its core holds, and each round key of the block
// functions' words, as stored and as bytes. Those of one or two byte values
// (such as all zeros) could be found anywhere and prove nothing.
std::vector<Bytes> roundKeyWindows(const Implementation& implementation, const Block& key) {
  std::vector<Bytes> windows;
  const auto add = [&](std::span<const std::uint8_t> bytes) {
    for (std::size_t at = 0; at + 16 <= bytes.size(); at += 16) {
      const std::span<const std::uint8_t> window = bytes.subspan(at, 16);
      if (std::set<std::uint8_t>(window.begin(), window.end()).size() > 2) {
        windows.emplace_back(window.begin(), window.end());
      }
    }
  };
  for (const Schedule schedule : {Schedule::encryption, Schedule::decryption}) {
    std::array<std::uint8_t, 4096> image{};
    const std::size_t size = implementation.roundKeyImage(key, schedule, image);
    EXPECT_GT(size, 0U) << implementation.name << ": round keys larger than " << image.size();
    add(std::span<const std::uint8_t>(image).first(size));

    Words words{};
    (schedule == Schedule::encryption ? implementation.keySetupEnc : implementation.keySetupDec)(
        words, key);
    add(std::span(reinterpret_cast<const std::uint8_t*>(words.data()), sizeof words));
    Bytes bigEndian;
    for (const std::uint32_t word : words) {
      const auto bytes = test_support::bigEndianBytes(word);
      bigEndian.insert(bigEndian.end(), bytes.begin(), bytes.end());
    }
    add(bigEndian);
  }
  return windows;
}

class Wipe : public ::testing::TestWithParam<std::tuple<const Implementation*, Calls>> {};

TEST_P(Wipe, LeavesNoRoundKeyOrPlaintextOnTheStack) {
  const Implementation* implementation = std::get<0>(GetParam());
  const Calls& calls = std::get<1>(GetParam());
  SKIP_UNSUPPORTED(implementation);
  if (const char* reason = whyNotHere()) {
    GTEST_SKIP() << reason;
  }
  test_support::SeededRandom random;
  // Groups of every size the CBC cores take, with a tail of each.
  const Bytes plaintext = random.bytes(std::size_t{35} * 16);
  Inputs inputs{random.block(), random.block(), plaintext};
  const std::vector<Bytes> windows = roundKeyWindows(*implementation, inputs.key);
  ASSERT_FALSE(windows.empty());

  Bytes leftovers(stackBytes);
  runCalls(*implementation, calls, inputs, leftovers);
  ASSERT_EQ(inputs.data, plaintext);

  const auto search = [&](const std::string& what, std::span<const std::uint8_t> needle) {
    const auto found =
        std::search(leftovers.begin(), leftovers.end(), needle.begin(), needle.end());
    EXPECT_EQ(found, leftovers.end())
        << implementation->name << "'s " << calls.name << " functions left " << what << " "
        << test_support::toHex(needle) << " on the stack, " << leftovers.end() - found
        << " bytes below the caller's frame";
  };
  for (std::size_t w = 0; w < windows.size(); ++w) {
    search("round-key window " + std::to_string(w), windows[w]);
  }
  for (std::size_t b = 0; b < plaintext.size() / 16; ++b) {
    search("plaintext block " + std::to_string(b),
           std::span<const std::uint8_t>(plaintext).subspan(b * 16, 16));
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, Wipe,
                         ::testing::Combine(test_support::allImplementations(),
                                            ::testing::Values(Calls{"cbc", cbcCalls},
                                                              Calls{"block", blockCalls},
                                                              Calls{"many", manyBlockCalls},
                                                              Calls{"kept", keptKeyCalls})),
                         test_support::NameOfParam{});

}  // namespace
