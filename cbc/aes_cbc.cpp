// The public CBC functions: each call goes to the implementation chosen for
// this CPU, once, on the first call.
#include "cbc/aes_cbc.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "cbc/implementations.hpp"

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

}  // namespace aes_cbc

namespace {

const aes_cbc::Implementation* firstSupported() noexcept {
  for (const aes_cbc::Implementation* candidate : aes_cbc::implementations()) {
    if (candidate->supported()) {
      return candidate;
    }
  }
  return aes_cbc::implementations().back();
}

// The CPU does not change under a running program, so the choice is made
// once (the language makes the static's initialisation thread-safe) and kept
// where each call finds it with one load.
std::atomic<const aes_cbc::Implementation*> chosenImplementation{nullptr};

[[gnu::noinline, gnu::cold]] const aes_cbc::Implementation& choose() noexcept {
  static const aes_cbc::Implementation* const implementation = firstSupported();
  chosenImplementation.store(implementation, std::memory_order_release);
  return *implementation;
}

inline const aes_cbc::Implementation& chosen() noexcept {
  const aes_cbc::Implementation* implementation =
      chosenImplementation.load(std::memory_order_acquire);
  return implementation != nullptr ? *implementation : choose();
}

}  // namespace

void aes_128_cbc_encrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  chosen().encrypt(key, iv, data, length);
}

void aes_128_cbc_decrypt(std::span<const std::uint8_t, 16> key,
                         std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                         std::uint32_t length) noexcept {
  chosen().decrypt(key, iv, data, length);
}

const char* aes_128_cbc_implementation() noexcept {
  return chosen().name;
}
