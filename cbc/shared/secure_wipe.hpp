// Clearing key material so that the optimiser cannot drop the stores as dead.
#pragma once

#include <cstddef>
#include <cstring>

// Zeroes `size` bytes at `data`. With GCC and Clang the compiler's own memset
// is followed by an empty assembly statement that claims to read the memory,
// so the stores must happen; elsewhere each byte is written through a
// volatile pointer, which the language forbids eliding.
inline void secure_wipe(void* data, std::size_t size) noexcept {
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

template <typename T>
void secure_wipe(T& object) noexcept {
  secure_wipe(&object, sizeof object);
}
