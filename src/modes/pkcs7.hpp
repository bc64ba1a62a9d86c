// PKCS#7 padding (RFC 5652 section 6.3) over the update calls of a CBC mode
// (modes/cbc_mode.hpp): the last piece of a message, or a whole one. The
// padding check of decryption is computed with masks: no branch and no
// address depends on the pad byte, on which byte is wrong or on whether any
// is; the zeroing of a wrong buffer and the result are selected by a mask.
// Branches depend on the length and the capacity alone.
//
// Included after AES128_CORE_ENTRY is defined (modes/cbc_mode.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/key_schedule.hpp"

namespace aes128 {
// Internal linkage: each file that includes this compiles it for its own
// instructions, and no other file may call that code.
namespace {  // NOLINT(cert-dcl59-cpp)

// The value as it is, through an empty assembly statement that claims to
// change it, so that the optimiser cannot turn the masks made of it back
// into branches.
inline std::uint32_t hiddenValue(std::uint32_t value) {
#if defined(__GNUC__) || defined(__clang__)
  __asm__("" : "+r"(value));
#endif
  return value;
}

// All ones where `value` is 0, else 0; `value` below 2^31, so that value | -value
// has its top bit set unless it is 0.
constexpr std::uint32_t zeroMask(std::uint32_t value) {
  return ((value | (0U - value)) >> 31) - 1U;
}

template <typename Mode>
struct Pkcs7 {
  // At least one byte of padding, each of the padding's length: a whole
  // block of 16 after a length that is a multiple of 16.
  [[gnu::noinline]] AES128_CORE_ENTRY static std::uint32_t encrypt(
      ConstWords words, OutputBytes iv, std::uint8_t* data, std::uint32_t length,
      std::uint32_t capacity) noexcept {
    const std::uint64_t padded = (std::uint64_t{length} / blockBytes + 1) * blockBytes;
    // capacity below 2^32 also turns away a padded length that does not fit.
    if (padded > capacity) {
      return 0;
    }
    const auto padding = static_cast<std::uint8_t>(padded - length);
    std::memset(data + length, padding, padding);
    const auto paddedLength = static_cast<std::uint32_t>(padded);
    Mode::template update<Schedule::encryption>(words, iv, data, paddedLength);
    return paddedLength;
  }

  // Decrypts in place, then checks the last block: its last byte p must be
  // 1 to 16 and its last p bytes all p. A length of at least one block
  // holds any such padding.
  [[gnu::noinline]] AES128_CORE_ENTRY static std::int64_t decrypt(ConstWords words, OutputBytes iv,
                                                                  std::uint8_t* data,
                                                                  std::uint32_t length) noexcept {
    if (length == 0 || length % blockBytes != 0) {
      return -1;
    }
    Mode::template update<Schedule::decryption>(words, iv, data, length);
    const std::uint8_t* last = data + length - blockBytes;
    const std::uint32_t padding = hiddenValue(last[blockBytes - 1]);
    // Non-zero for a pad byte of 0 (p - 1 wraps) or over 16.
    std::uint32_t wrong = (padding - 1U) >> 4;
    for (std::size_t i = 0; i < blockBytes; ++i) {
      // All ones where byte i is among the last p: i + p - 16 is not negative.
      const std::uint32_t inPadding =
          ((static_cast<std::uint32_t>(i) + padding - std::uint32_t{blockBytes}) >> 31) - 1U;
      wrong |= (last[i] ^ padding) & inPadding;
    }
    const std::uint32_t right = hiddenValue(zeroMask(wrong));
    // A wrong buffer is zeroed: every byte under the mask.
    const auto keep = static_cast<std::uint8_t>(right);
    for (std::size_t block = 0; block < length; block += blockBytes) {
      for (std::size_t i = 0; i < blockBytes; ++i) {
        data[block + i] &= keep;
      }
    }
    const std::uint64_t rightMask = (std::uint64_t{right} << 32) | right;
    return static_cast<std::int64_t>(((std::uint64_t{length} - padding) & rightMask) | ~rightMask);
  }
};

}  // namespace
}  // namespace aes128
