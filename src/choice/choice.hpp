// The one choice of implementation, for every public function: made once,
// on the first call, from the CPU that runs the program. Internal to the
// library: api/ calls through it; the tests and benchmarks list the
// implementations. Not installed.
#pragma once

#include <atomic>
#include <span>

#include "modes/implementation.hpp"

namespace aes128 {

// The implementations the choice takes from, the preferred first; the last
// is supported everywhere.
std::span<const Implementation* const> choosable() noexcept;

// Every implementation built into the library, for the tests and benchmarks:
// the choosable ones, then the table-driven one where it is not among them.
std::span<const Implementation* const> implementations() noexcept;

// The choice once made; null before the first call.
extern std::atomic<const Implementation*> chosenImplementation;

// Makes the choice: the first of choosable() that the CPU supports.
[[gnu::cold]] const Implementation& choose() noexcept;

// The implementation for this CPU: one load once the choice is made.
inline const Implementation& chosen() noexcept {
  const Implementation* implementation = chosenImplementation.load(std::memory_order_acquire);
  return implementation != nullptr ? *implementation : choose();
}

}  // namespace aes128
