// What every test program shares: reading the vector files, hex, failure
// messages that show the bytes, and seeded random data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "choice/choice.hpp"

namespace test_support {

using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint8_t, 16>;

// Throws std::invalid_argument on an odd count or a non-hex digit.
Bytes fromHex(std::string_view hex);
std::string toHex(std::span<const std::uint8_t> bytes);
std::array<std::uint8_t, 4> bigEndianBytes(std::uint32_t word);

// One record of a vector file: an unbroken run of "NAME = value" lines. Both
// layouts in tests/vectors are made of these: CAVP response files put them
// under [ENCRYPT] and [DECRYPT] headers, FIPS197.txt and RFC3602.txt have no
// headers. Blank lines, '#' comments and headers end a record.
struct Record {
  std::string file;
  int line = 0;
  std::string section;  // "ENCRYPT", "DECRYPT" or empty
  std::map<std::string, std::string, std::less<>> values;

  // File, line, section and COUNT or CASE, to name the record in messages.
  std::string where() const;
  // These throw std::runtime_error, naming the record, if the value is
  // missing or (for block) not 16 bytes.
  Bytes bytes(std::string_view name) const;
  Block block(std::string_view name) const;
};

// Reads a file of the vector directory; throws std::runtime_error if it is
// missing or malformed.
std::vector<Record> readVectorFile(std::string_view fileName);

// Success if equal; otherwise names `what` and shows expected, produced and
// their XOR in hex.
::testing::AssertionResult sameBytes(std::string_view what, std::span<const std::uint8_t> expected,
                                     std::span<const std::uint8_t> produced);

// A CBC implementation by its name in letters and digits only ("aes-ni" ->
// "aesni"), as test names need it; anything else by its `name`.
std::string nameOf(const aes128::Implementation* implementation);
template <typename Param>
std::string nameOf(const Param& param) {
  return param.name;
}

// Names each instance of a value-parameterised test by its parameter's name,
// or by the names of a tuple's elements joined with '_'.
struct NameOfParam {
  template <typename Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& paramInfo) const {
    return joined(paramInfo.param);
  }

 private:
  template <typename Param>
  static std::string joined(const Param& param) {
    return nameOf(param);
  }
  template <typename... Params>
  static std::string joined(const std::tuple<Params...>& params) {
    return std::apply(
        [](const auto& first, const auto&... rest) {
          return (nameOf(first) + ... + ("_" + nameOf(rest)));
        },
        params);
  }
};

// Every CBC implementation built into the library, supported by this CPU or
// not; a test of one that is not supported skips itself with SKIP_UNSUPPORTED.
inline auto allImplementations() {
  return ::testing::ValuesIn(aes128::implementations().begin(), aes128::implementations().end());
}

// Whether the program runs under valgrind (known where its header was at
// hand when the tests were built).
bool underValgrind();

// Why an implementation is not supported here: the CPU lacks its
// instructions, or under valgrind, the CPU that valgrind presents does.
std::string unsupportedReason();

// Reports the current test as skipped, with the reason, when this CPU lacks
// the instructions of `implementation` (a const aes128::Implementation*). A
// macro because GTEST_SKIP must return from the test body itself.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define SKIP_UNSUPPORTED(implementation) \
  if (!(implementation)->supported())    \
  GTEST_SKIP() << (implementation)->name << ": " << test_support::unsupportedReason()

// Random test data from the seed in AES_TEST_SEED (decimal or 0x hex), or a
// fixed default, so a failure can be replayed. While an instance lives, every
// failure message shows the seed.
class SeededRandom {
 public:
  SeededRandom();
  Bytes bytes(std::size_t count);
  Block block();
  // Uniform in [0, bound].
  std::size_t upTo(std::size_t bound);

 private:
  std::uint64_t seed_;
  ::testing::ScopedTrace trace_;
  std::mt19937_64 engine_;
};

}  // namespace test_support

namespace aes128 {
// Shows an implementation in test output by its name rather than its address.
inline void PrintTo(const Implementation* implementation, std::ostream* out) {
  *out << implementation->name;
}
}  // namespace aes128
