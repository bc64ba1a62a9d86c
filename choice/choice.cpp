// The one choice: the implementations built in, in order of preference,
// and the first the CPU supports.
#include "choice/choice.hpp"

#include <array>
#include <atomic>
#include <span>

#include "cbc/aes_cbc.hpp"
#include "implementations/implementation.hpp"

namespace aes_cbc {

std::span<const Implementation* const> implementations() noexcept {
  // Left as written: clang-format indents the list differently after each #if.
  // clang-format off
  static constexpr std::array all{
#if AES_CBC_VAES
      &vaesAvx2Implementation,
#endif
#if AES_CBC_X86
      &aesNiImplementation,
#endif
#if AES_CBC_ARMV8
      &armv8AesImplementation,
#endif
#if AES_CBC_X86
      &ssse3Implementation,
#endif
#if AES_CBC_NEON
      &neonImplementation,
#endif
#if AES_CBC_BITSLICED
      &bitslicedImplementation,
#endif
      &tableImplementation,
  };
  // clang-format on
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

const char* aes_128_cbc_implementation() noexcept {
  return aes_cbc::chosen().name;
}
