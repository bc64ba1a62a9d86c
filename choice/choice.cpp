// The one choice: the implementations built in, in order of preference,
// and the first the CPU supports.
#include "choice/choice.hpp"

#include <array>
#include <atomic>
#include <span>

#include "implementations/implementation.hpp"

namespace aes_cbc {

std::span<const Implementation* const> implementations() noexcept {
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the list's entries
#define AES_CBC_IMPLEMENTATION(entry) &(entry),
  static constexpr std::array all{
#include "implementations/list.hpp"
  };
#undef AES_CBC_IMPLEMENTATION
  return all;
}

// The CPU does not change under a running program, so the choice is made
// once (the language makes the static's initialisation thread-safe) and kept
// where each call finds it with one load.
std::atomic<const Implementation*> chosenImplementation{nullptr};

const Implementation& choose() noexcept {
  static const Implementation* const implementation = [] {
    for (const Implementation* candidate : implementations()) {
      if (candidate->supported()) {
        return candidate;
      }
    }
    return implementations().back();
  }();
  chosenImplementation.store(implementation, std::memory_order_release);
  return *implementation;
}

}  // namespace aes_cbc
