#include "support/test_support.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#if AES_TEST_VALGRIND_HEADER
#include <valgrind/valgrind.h>
#endif

namespace test_support {
namespace {

constexpr std::uint64_t defaultSeed = 20261208;

unsigned hexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<unsigned>(c - '0');
  }
  if (c >= 'a' && c <= 'f') {
    return static_cast<unsigned>(c - 'a' + 10);
  }
  if (c >= 'A' && c <= 'F') {
    return static_cast<unsigned>(c - 'A' + 10);
  }
  throw std::invalid_argument(std::string("not a hex digit: '") + c + "'");
}

std::uint64_t seedFromEnvironment() {
  const char* text = std::getenv("AES_TEST_SEED");
  return text == nullptr ? defaultSeed : std::stoull(text, nullptr, 0);
}

}  // namespace

Bytes fromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) {
    throw std::invalid_argument("odd number of hex digits: " + std::string(hex));
  }
  Bytes bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(hexDigit(hex[i]) << 4 | hexDigit(hex[i + 1])));
  }
  return bytes;
}

std::string toHex(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const std::uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0x0f];
  }
  return hex;
}

std::array<std::uint8_t, 4> bigEndianBytes(std::uint32_t word) {
  return {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
          static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

bool underValgrind() {
#if AES_TEST_VALGRIND_HEADER
  return RUNNING_ON_VALGRIND != 0;
#else
  return false;
#endif
}

std::string unsupportedReason() {
#if AES_TEST_VALGRIND_HEADER
  if (underValgrind()) {
    return "the CPU that valgrind presents lacks the instructions it needs (valgrind hides some "
           "that the real one has, such as VAES)";
  }
#endif
  return "this CPU lacks the instructions it needs";
}

std::string nameOf(const aes128::Implementation* implementation) {
  std::string name;
  for (const char* c = implementation->name; *c != '\0'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c)) != 0) {
      name += *c;
    }
  }
  return name;
}

std::string Record::where() const {
  std::string text = file + ":" + std::to_string(line);
  if (!section.empty()) {
    text += " [" + section + "]";
  }
  for (const char* name : {"COUNT", "CASE"}) {
    if (const auto found = values.find(name); found != values.end()) {
      text += " " + found->first + " " + found->second;
    }
  }
  return text;
}

Bytes Record::bytes(std::string_view name) const {
  const auto found = values.find(name);
  if (found == values.end()) {
    throw std::runtime_error(where() + ": no " + std::string(name));
  }
  return fromHex(found->second);
}

Block Record::block(std::string_view name) const {
  const Bytes value = bytes(name);
  Block result{};
  if (value.size() != result.size()) {
    throw std::runtime_error(where() + ": " + std::string(name) + " is not 16 bytes");
  }
  std::copy(value.begin(), value.end(), result.begin());
  return result;
}

std::vector<Record> readVectorFile(std::string_view fileName) {
  const std::filesystem::path path = std::filesystem::path(AES_TEST_VECTOR_DIR) / fileName;
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot open vector file " + path.string());
  }
  std::vector<Record> records;
  std::string section;
  bool inRecord = false;
  std::string line;
  for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
    if (line.ends_with('\r')) {
      line.pop_back();
    }
    const auto equals = line.find(" = ");
    if (line.starts_with('#') || equals == std::string::npos) {
      inRecord = false;
      if (line.starts_with('[') && line.ends_with(']')) {
        section = line.substr(1, line.size() - 2);
      }
      continue;
    }
    if (!inRecord) {
      records.push_back({std::string(fileName), lineNumber, section, {}});
      inRecord = true;
    }
    const std::string name = line.substr(0, equals);
    if (!records.back().values.emplace(name, line.substr(equals + 3)).second) {
      throw std::runtime_error(records.back().where() + ": " + name + " given twice");
    }
  }
  return records;
}

::testing::AssertionResult sameBytes(std::string_view what, std::span<const std::uint8_t> expected,
                                     std::span<const std::uint8_t> produced) {
  if (std::ranges::equal(expected, produced)) {
    return ::testing::AssertionSuccess();
  }
  Bytes difference(std::min(expected.size(), produced.size()));
  for (std::size_t i = 0; i < difference.size(); ++i) {
    difference[i] = static_cast<std::uint8_t>(expected[i] ^ produced[i]);
  }
  auto failure = ::testing::AssertionFailure();
  failure << what << "\n  expected: " << toHex(expected) << "\n  produced: " << toHex(produced)
          << "\n  xor:      " << toHex(difference);
  if (expected.size() != produced.size()) {
    failure << "\n  lengths:  " << expected.size() << " expected, " << produced.size()
            << " produced";
  }
  return failure;
}

SeededRandom::SeededRandom()
    : seed_(seedFromEnvironment()),
      trace_(__FILE__, __LINE__, "AES_TEST_SEED=" + std::to_string(seed_)),
      engine_(seed_) {}

Bytes SeededRandom::bytes(std::size_t count) {
  Bytes result(count);
  for (std::uint8_t& b : result) {
    b = static_cast<std::uint8_t>(engine_());
  }
  return result;
}

Block SeededRandom::block() {
  Block result{};
  const Bytes random = bytes(result.size());
  std::copy(random.begin(), random.end(), result.begin());
  return result;
}

std::size_t SeededRandom::upTo(std::size_t bound) {
  // A plain remainder rather than a distribution, whose output differs between
  // standard libraries: a seed must replay the same data on every platform.
  return static_cast<std::size_t>(engine_() % (std::uint64_t{bound} + 1));
}

}  // namespace test_support
