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

constexpr std::uint64_t default_seed = 20261208;

unsigned hex_digit(char c) {
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

std::uint64_t seed_from_environment() {
  const char* text = std::getenv("AES_TEST_SEED");
  return text == nullptr ? default_seed : std::stoull(text, nullptr, 0);
}

}  // namespace

Bytes from_hex(std::string_view hex) {
  if (hex.size() % 2 != 0) {
    throw std::invalid_argument("odd number of hex digits: " + std::string(hex));
  }
  Bytes bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(hex_digit(hex[i]) << 4 | hex_digit(hex[i + 1])));
  }
  return bytes;
}

std::string to_hex(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * bytes.size());
  for (const std::uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0x0f];
  }
  return hex;
}

std::array<std::uint8_t, 4> big_endian_bytes(std::uint32_t word) {
  return {static_cast<std::uint8_t>(word >> 24), static_cast<std::uint8_t>(word >> 16),
          static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
}

bool under_valgrind() {
#if AES_TEST_VALGRIND_HEADER
  return RUNNING_ON_VALGRIND != 0;
#else
  return false;
#endif
}

std::string unsupported_reason() {
#if AES_TEST_VALGRIND_HEADER
  if (under_valgrind()) {
    return "the CPU that valgrind presents lacks the instructions it needs (valgrind hides some "
           "that the real one has, such as VAES)";
  }
#endif
  return "this CPU lacks the instructions it needs";
}

std::string name_of(const aes_cbc::Implementation* implementation) {
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
  return from_hex(found->second);
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

std::vector<Record> read_vector_file(std::string_view file_name) {
  const std::filesystem::path path = std::filesystem::path(AES_TEST_VECTOR_DIR) / file_name;
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot open vector file " + path.string());
  }
  std::vector<Record> records;
  std::string section;
  bool in_record = false;
  std::string line;
  for (int line_number = 1; std::getline(in, line); ++line_number) {
    if (line.ends_with('\r')) {
      line.pop_back();
    }
    const auto equals = line.find(" = ");
    if (line.starts_with('#') || equals == std::string::npos) {
      in_record = false;
      if (line.starts_with('[') && line.ends_with(']')) {
        section = line.substr(1, line.size() - 2);
      }
      continue;
    }
    if (!in_record) {
      records.push_back({std::string(file_name), line_number, section, {}});
      in_record = true;
    }
    const std::string name = line.substr(0, equals);
    if (!records.back().values.emplace(name, line.substr(equals + 3)).second) {
      throw std::runtime_error(records.back().where() + ": " + name + " given twice");
    }
  }
  return records;
}

::testing::AssertionResult same_bytes(std::string_view what, std::span<const std::uint8_t> expected,
                                      std::span<const std::uint8_t> produced) {
  if (std::ranges::equal(expected, produced)) {
    return ::testing::AssertionSuccess();
  }
  Bytes difference(std::min(expected.size(), produced.size()));
  for (std::size_t i = 0; i < difference.size(); ++i) {
    difference[i] = static_cast<std::uint8_t>(expected[i] ^ produced[i]);
  }
  auto failure = ::testing::AssertionFailure();
  failure << what << "\n  expected: " << to_hex(expected) << "\n  produced: " << to_hex(produced)
          << "\n  xor:      " << to_hex(difference);
  if (expected.size() != produced.size()) {
    failure << "\n  lengths:  " << expected.size() << " expected, " << produced.size()
            << " produced";
  }
  return failure;
}

SeededRandom::SeededRandom()
    : seed_(seed_from_environment()),
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

std::size_t SeededRandom::up_to(std::size_t bound) {
  // A plain remainder rather than a distribution, whose output differs between
  // standard libraries: a seed must replay the same data on every platform.
  return static_cast<std::size_t>(engine_() % (std::uint64_t{bound} + 1));
}

}  // namespace test_support
