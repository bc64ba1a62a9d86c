// The one choice: the implementations built in, in order of preference,
// and the first the CPU supports.
#include "choice/choice.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <span>

#include "modes/implementation.hpp"

namespace aes128 {

// Every implementation built in, declared from the one list; each is defined
// in its own family's folder.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the list's entries
#define AES128_IMPLEMENTATION(entry) extern const Implementation entry;
#include "choice/list.hpp"
#undef AES128_IMPLEMENTATION
extern const Implementation tableImplementation;

namespace {

// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the list's entries
#define AES128_IMPLEMENTATION(entry) &(entry),
constexpr std::array candidates{
#include "choice/list.hpp"
};
#undef AES128_IMPLEMENTATION

// What the choice falls back on, the list's last: every CPU runs it, and in
// every build but the table-only one it is constant-time, so the choice can
// never return the table-driven cipher, whose lookups follow key and data.
#if AES128_TABLE_ONLY
constexpr const Implementation* lastResort = &tableImplementation;
#else
constexpr const Implementation* lastResort = &bitslicedImplementation;
#endif
static_assert(candidates.back() == lastResort);

// The table-driven implementation is built in every build, for its own
// tests and as the block cipher the table-only build stands on: every
// implementation is the choosable ones, then it where it is not among them.
constexpr std::size_t implementationCount = candidates.size() + (AES128_TABLE_ONLY ? 0 : 1);

constexpr std::array<const Implementation*, implementationCount> listEveryImplementation() {
  std::array<const Implementation*, implementationCount> all{};
  std::copy(candidates.begin(), candidates.end(), all.begin());
  all.back() = &tableImplementation;
  return all;
}

constexpr auto everyImplementation = listEveryImplementation();

}  // namespace

std::span<const Implementation* const> choosable() noexcept {
  return candidates;
}

std::span<const Implementation* const> implementations() noexcept {
  return everyImplementation;
}

// The CPU does not change under a running program, so the choice is made
// once (the language makes the static's initialisation thread-safe) and kept
// where each call finds it with one load.
std::atomic<const Implementation*> chosenImplementation{nullptr};

const Implementation& choose() noexcept {
  static const Implementation* const implementation = [] {
    for (const Implementation* candidate : candidates) {
      if (candidate->supported()) {
        return candidate;
      }
    }
    return lastResort;
  }();
  chosenImplementation.store(implementation, std::memory_order_release);
  return *implementation;
}

}  // namespace aes128
