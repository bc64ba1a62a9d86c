// Clearing key material and plaintext so that the optimiser cannot drop the
// stores as dead.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

// Zeroes `size` bytes at `data`. With GCC and Clang the compiler's own memset
// is followed by an empty assembly statement that claims to read the memory,
// so the stores must happen; elsewhere each byte is written through a
// volatile pointer, which the language forbids eliding.
inline void secureWipe(void* data, std::size_t size) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
#else
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = 0;
  }
#endif
}

// Zeroes an array of vector values (SSE, AVX or NEON registers' images, such
// as round keys) with one plain store of zero each. Inlined into the
// target-attributed code of a hardware path, these are that path's own vector
// stores: a memset of a few hundred bytes may become a string store instead
// (`rep stosq` on x86), whose start-up alone costs tens of cycles. The same
// empty assembly statement as above keeps the stores.
#if defined(__GNUC__) || defined(__clang__)
template <typename Vector, std::size_t count, std::size_t... i>
[[gnu::always_inline]] inline void secureWipeVectors(Vector (&vectors)[count],
                                                     std::index_sequence<i...> /*each*/) noexcept {
  // One statement per element, not a loop, which the optimiser could turn
  // back into a memset.
  ((vectors[i] = Vector{}), ...);
  __asm__ __volatile__("" : : "r"(vectors) : "memory");
}

template <typename Vector, std::size_t count>
[[gnu::always_inline]] inline void secureWipeVectors(Vector (&vectors)[count]) noexcept {
  secureWipeVectors(vectors, std::make_index_sequence<count>{});
}
#else
template <typename Vector, std::size_t count>
inline void secureWipeVectors(Vector (&vectors)[count]) noexcept {
  secureWipe(vectors, sizeof vectors);
}
#endif

// Any object: arrays of vectors with vector stores, everything else by
// bytes; an empty one holds nothing.
template <typename T>
inline void secureWipe(T& object) noexcept {
  if constexpr (std::is_empty_v<T>) {
    // Nothing to wipe.
  } else if constexpr (std::is_array_v<T> && !std::is_arithmetic_v<std::remove_extent_t<T>> &&
                       std::rank_v<T> == 1) {
    secureWipeVectors(object);
  } else {
    secureWipe(&object, sizeof object);
  }
}

// Zeroes the stack below the caller's frame, as far as more than any of the
// library's calls takes, where the compilers leave key material in stack
// slots that no wipe can name: called right after such a call, it takes the
// frames that call took.
inline constexpr std::size_t scrubbedStackBytes = 4096;

[[gnu::noinline]] inline void scrubStack() noexcept {
  unsigned char area[scrubbedStackBytes];
  secureWipe(area);
}

// Optimising for size (-Os, -Oz), the compilers inline less and keep more
// in stack slots, round keys among them (the test of the wipe found the
// SSSE3 and bitsliced ones): such builds scrub after every call.
#if defined(__OPTIMIZE_SIZE__)
inline constexpr bool optimisedForSize = true;
#else
inline constexpr bool optimisedForSize = false;
#endif

// The Windows x64 calling convention makes xmm6 to xmm15 callee-saved: a
// function that uses them stores its caller's values in its own frame, so
// a helper that an entry calls saves the entry's round keys there (the test
// of the wipe found SSSE3 ones with MinGW-w64).
#if defined(_WIN64)
inline constexpr bool framesHoldCallersVectors = true;
#else
inline constexpr bool framesHoldCallersVectors = false;
#endif
