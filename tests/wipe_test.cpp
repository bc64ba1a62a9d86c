// Whether a CBC call leaves key material or plaintext behind on the stack:
// the stack below the caller's frame is painted, an encryption and a
// decryption of a known message run, one-shot and as updates with a kept
// key, and what they left there is searched
// for every 16-byte window of the implementation's round keys, in the form
// its core holds them, and for every plaintext block.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "choice/choice.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using aes128::Schedule;
using test_support::Block;
using test_support::Bytes;

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

[[gnu::noinline]] void runCalls(const Implementation& implementation, const Block& key,
                                const Block& iv, Bytes& data, Bytes& leftovers) {
  const auto length = static_cast<std::uint32_t>(data.size());
  std::array<std::uint32_t, aes128::roundKeyWords> encryption{};
  std::array<std::uint32_t, aes128::roundKeyWords> decryption{};
  implementation.keySetupEnc(encryption, key);
  implementation.keySetupDec(decryption, key);
  Block encryptionIv = iv;
  Block decryptionIv = iv;
  paintStack();
  implementation.encrypt(key, iv, data.data(), length);
  implementation.decrypt(key, iv, data.data(), length);
  implementation.encryptUpdate(encryption, encryptionIv, data.data(), length);
  implementation.decryptUpdate(decryption, decryptionIv, data.data(), length);
  copyStack(leftovers);
}

// The 16-byte windows of an implementation's round keys, each vector or
// group of words that its core holds; those of one or two byte values (such
// as all zeros) could be found anywhere and prove nothing.
std::vector<Bytes> roundKeyWindows(const Implementation& implementation, const Block& key) {
  std::vector<Bytes> windows;
  for (const Schedule schedule : {Schedule::encryption, Schedule::decryption}) {
    std::array<std::uint8_t, 4096> image{};
    const std::size_t size = implementation.roundKeyImage(key, schedule, image);
    EXPECT_GT(size, 0U) << implementation.name << ": round keys larger than " << image.size();
    for (std::size_t at = 0; at + 16 <= size; at += 16) {
      const std::set<std::uint8_t> values(image.begin() + at, image.begin() + at + 16);
      if (values.size() > 2) {
        windows.emplace_back(image.begin() + at, image.begin() + at + 16);
      }
    }
  }
  return windows;
}

class Wipe : public ::testing::TestWithParam<const Implementation*> {};

TEST_P(Wipe, LeavesNoRoundKeyOrPlaintextOnTheStack) {
  const Implementation* implementation = GetParam();
  SKIP_UNSUPPORTED(implementation);
  if (const char* reason = whyNotHere()) {
    GTEST_SKIP() << reason;
  }
  test_support::SeededRandom random;
  const Block key = random.block();
  const Block iv = random.block();
  // Groups of every size the cores take, with a tail of each.
  const Bytes plaintext = random.bytes(std::size_t{35} * 16);
  const std::vector<Bytes> windows = roundKeyWindows(*implementation, key);
  ASSERT_FALSE(windows.empty());

  Bytes data = plaintext;
  Bytes leftovers(stackBytes);
  runCalls(*implementation, key, iv, data, leftovers);
  ASSERT_EQ(data, plaintext);

  const auto search = [&](const std::string& what, std::span<const std::uint8_t> needle) {
    const auto found =
        std::search(leftovers.begin(), leftovers.end(), needle.begin(), needle.end());
    EXPECT_EQ(found, leftovers.end())
        << implementation->name << " left " << what << " " << test_support::toHex(needle)
        << " on the stack, " << leftovers.end() - found << " bytes below the caller's frame";
  };
  for (std::size_t w = 0; w < windows.size(); ++w) {
    search("round-key window " + std::to_string(w), windows[w]);
  }
  for (std::size_t b = 0; b < plaintext.size() / 16; ++b) {
    search("plaintext block " + std::to_string(b),
           std::span<const std::uint8_t>(plaintext).subspan(b * 16, 16));
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, Wipe, test_support::allImplementations(),
                         test_support::NameOfParam{});

}  // namespace
