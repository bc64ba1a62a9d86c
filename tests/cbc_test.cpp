// Properties of the CBC functions and a random differential test of both
// against the reference model, for each CBC implementation; and the choice of
// implementation behind the public functions.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include <gtest/gtest.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "support/reference_aes.hpp"
#include "support/test_support.hpp"

namespace {

using aes128::Implementation;
using test_support::Block;
using test_support::Bytes;
using test_support::sameBytes;
using test_support::SeededRandom;
using test_support::toHex;

struct CbcDirection {
  const char* name;
  bool encrypt;
  decltype(&reference::cbcEncrypt) reference;

  aes128::CbcFunction of(const Implementation& implementation) const {
    return encrypt ? implementation.encrypt : implementation.decrypt;
  }
  friend void PrintTo(const CbcDirection& param, std::ostream* out) { *out << param.name; }
};

constexpr std::array<CbcDirection, 2> directions{{
    {"Encrypt", true, reference::cbcEncrypt},
    {"Decrypt", false, reference::cbcDecrypt},
}};

// Runs the library over `length` bytes at `offset` in `buffer`. The whole
// blocks must come out as the reference makes them, every other byte of the
// buffer (the partial block at the end and the guards around) unchanged, and
// the key and IV as they were.
::testing::AssertionResult matchesReference(const Implementation& implementation,
                                            const CbcDirection& direction, const Block& key,
                                            const Block& iv, Bytes& buffer, std::size_t offset,
                                            std::uint32_t length, const std::string& what) {
  const std::string context = what + ", " + implementation.name + " " + direction.name;
  Bytes expected = buffer;
  direction.reference(key, iv,
                      std::span<std::uint8_t>(expected).subspan(
                          offset, length / aes_block_bytes * aes_block_bytes));
  // The library gets copies that are not const objects, so that a stray write
  // through them is defined behaviour and shows up below.
  Block keyPassed = key;
  Block ivPassed = iv;
  direction.of(implementation)(keyPassed, ivPassed, buffer.data() + offset, length);
  if (auto result = sameBytes(context + ": buffer", expected, buffer); !result) {
    return result;
  }
  if (auto result = sameBytes(context + ": key after the call", key, keyPassed); !result) {
    return result;
  }
  return sameBytes(context + ": IV after the call", iv, ivPassed);
}

class Cbc : public ::testing::TestWithParam<std::tuple<CbcDirection, const Implementation*>> {};

TEST_P(Cbc, ChangesOnlyTheWholeBlocksOfLength) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  const Block key = random.block();
  const Block iv = random.block();
  // An odd guard also puts the data at an odd address.
  constexpr std::size_t guard = 17;
  for (const std::uint32_t length : {0u, 15u, 16u, 40u}) {
    Bytes buffer = random.bytes(guard + length + guard);
    EXPECT_TRUE(matchesReference(*implementation, direction, key, iv, buffer, guard, length,
                                 "length " + std::to_string(length)));
  }
}

TEST_P(Cbc, OneCallEqualsChainedOneBlockCallsAndRepeats) {
  const auto& [direction, implementation] = GetParam();
  SKIP_UNSUPPORTED(implementation);
  const aes128::CbcFunction library = direction.of(*implementation);
  SeededRandom random;
  const Block key = random.block();
  const Block iv = random.block();
  const Bytes input = random.bytes(5 * aes_block_bytes);
  const auto length = static_cast<std::uint32_t>(input.size());

  Bytes whole = input;
  library(key, iv, whole.data(), length);
  Bytes again = input;
  library(key, iv, again.data(), length);
  EXPECT_TRUE(sameBytes("second call", whole, again));

  Bytes pieces = input;
  Block chain = iv;
  for (std::size_t offset = 0; offset < pieces.size(); offset += aes_block_bytes) {
    const std::span<std::uint8_t, aes_block_bytes> block(&pieces[offset], aes_block_bytes);
    Block before;
    std::copy(block.begin(), block.end(), before.begin());
    library(key, chain, block.data(), aes_block_bytes);
    // The next chaining value is this block's ciphertext.
    if (direction.encrypt) {
      std::copy(block.begin(), block.end(), chain.begin());
    } else {
      chain = before;
    }
  }
  EXPECT_TRUE(sameBytes("one-block calls chained by hand", whole, pieces));
}

INSTANTIATE_TEST_SUITE_P(Aes128, Cbc,
                         ::testing::Combine(::testing::ValuesIn(directions),
                                            test_support::allImplementations()),
                         test_support::NameOfParam());

class CbcImplementation : public ::testing::TestWithParam<const Implementation*> {};

// A wrong IV enters only the first block's XOR, so only that block is off,
// and by exactly the difference of the IVs.
TEST_P(CbcImplementation, WrongIvGarblesOnlyTheFirstDecryptedBlock) {
  const Implementation* implementation = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  const Block key = random.block();
  const Block iv = random.block();
  const Block wrongIv = random.block();
  const Bytes plaintext = random.bytes(4 * aes_block_bytes);
  Bytes data = plaintext;
  const auto length = static_cast<std::uint32_t>(data.size());
  implementation->encrypt(key, iv, data.data(), length);
  implementation->decrypt(key, wrongIv, data.data(), length);
  Bytes expected = plaintext;
  for (std::size_t j = 0; j < aes_block_bytes; ++j) {
    expected[j] ^= static_cast<std::uint8_t>(iv[j] ^ wrongIv[j]);
  }
  EXPECT_TRUE(sameBytes("deciphered with IV " + toHex(wrongIv) + " instead of " + toHex(iv),
                        expected, data));
}

// Random keys, IVs, lengths (whole blocks or not) and start offsets, with
// guard bytes on both sides; encryption, then decryption of its result.
TEST_P(CbcImplementation, RandomBuffersMatchReferenceAndRoundTrip) {
  const Implementation* implementation = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  constexpr int cases = 2000;
  constexpr std::size_t maxLength = 300;
  constexpr std::size_t maxOffset = 32;
  constexpr std::size_t guardAfter = 16;
  for (int n = 0; n < cases; ++n) {
    const Block key = random.block();
    const Block iv = random.block();
    const auto length = static_cast<std::uint32_t>(random.upTo(maxLength));
    const std::size_t offset = 1 + random.upTo(maxOffset - 1);
    const Bytes original = random.bytes(offset + length + guardAfter);
    const std::string what = "case " + std::to_string(n) + ", length " + std::to_string(length) +
                             ", offset " + std::to_string(offset) + ", key " + toHex(key) +
                             ", IV " + toHex(iv);
    Bytes buffer = original;
    for (const CbcDirection& direction : directions) {
      ASSERT_TRUE(
          matchesReference(*implementation, direction, key, iv, buffer, offset, length, what));
    }
    ASSERT_TRUE(sameBytes(what + ": decrypt after encrypt", original, buffer));
  }
}

// Every block count up to 48: each multi-block loop (eight blocks at a time
// in AES-NI and ARMv8, sixteen in VAES) runs up to three times in a row, its
// chaining carried from one group to the next, and hands over to the
// narrower loops with every remainder.
TEST_P(CbcImplementation, EveryBlockCountUpTo48MatchesReference) {
  const Implementation* implementation = GetParam();
  SKIP_UNSUPPORTED(implementation);
  SeededRandom random;
  constexpr std::size_t maxBlocks = 48;
  constexpr std::size_t guard = 1;
  for (std::size_t blocks = 0; blocks <= maxBlocks; ++blocks) {
    const Block key = random.block();
    const Block iv = random.block();
    const auto length = static_cast<std::uint32_t>(blocks * aes_block_bytes);
    Bytes buffer = random.bytes(guard + length + guard);
    for (const CbcDirection& direction : directions) {
      ASSERT_TRUE(matchesReference(*implementation, direction, key, iv, buffer, guard, length,
                                   std::to_string(blocks) + " blocks"));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Aes128, CbcImplementation, test_support::allImplementations(),
                         test_support::NameOfParam());

// The implementation the public functions must run on this CPU: named by
// AES_EXPECTED_IMPLEMENTATION where the build knows the CPU (emulated ones,
// cross targets), else read from the CPU with the compiler's own feature
// tests, apart from the library's detection; empty where neither is known.
std::string expectedImplementation() {
  if (const char* named = std::getenv("AES_EXPECTED_IMPLEMENTATION"); named != nullptr) {
    return named;
  }
#if !AES128_TABLE_ONLY && (defined(__x86_64__) || defined(__i386__))
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
  constexpr unsigned leaf7EcxVaes = 1U << 9;
  // GCC's feature test gives an int, Clang's a bool: compared with 0 either way.
  // NOLINTBEGIN(readability-implicit-bool-conversion)
  const bool vaes = __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 &&
                    (ecx & leaf7EcxVaes) != 0 && __builtin_cpu_supports("avx2") != 0;
  const bool aesNi = __builtin_cpu_supports("aes") != 0;
  const bool ssse3 = __builtin_cpu_supports("ssse3") != 0;
  // NOLINTEND(readability-implicit-bool-conversion)
  if (sizeof(void*) == 8 && vaes && aesNi) {
    return "vaes-avx2";
  }
  if (aesNi) {
    return "aes-ni";
  }
  return ssse3 ? "ssse3" : "bitsliced";
#else
  return AES128_TABLE_ONLY ? "table" : "";
#endif
}

// The public functions run the implementation this CPU calls for, one the
// choice may return: in every build but the table-only one, never the
// table-driven cipher.
TEST(CbcPublicFunctions, RunTheImplementationThisCpuCallsFor) {
  const auto choosable = aes128::choosable();
  const bool listed =
      std::any_of(choosable.begin(), choosable.end(), [](const Implementation* each) {
        return std::string_view(each->name) == aes_128_cbc_implementation();
      });
  EXPECT_TRUE(listed) << aes_128_cbc_implementation();
  if (!AES128_TABLE_ONLY) {
    EXPECT_STRNE(aes_128_cbc_implementation(), "table");
  }
  const std::string expected = expectedImplementation();
  if (expected.empty()) {
    GTEST_SKIP() << "neither the build nor a feature test of this compiler knows this CPU";
  }
  EXPECT_EQ(aes_128_cbc_implementation(), expected);
}

}  // namespace
