// CBC by vector permutes with NEON, for Arm CPUs without the Cryptography
// Extension: the S-box from 4-bit lookups held in registers, as
// vector_permute/constants.hpp derives it, with TBL as the lookup (the Arm
// architecture reference: byte i of the result is table byte index[i], or 0
// where the index is out of range). Constant-time: every lookup by a key- or
// data-dependent index is a TBL between registers, and nothing branches on
// them.
//
// On AArch64 NEON is always there and TBL takes a 16-byte table. 32-bit Arm
// (armhf) has NEON only on some cores, so there it is asked for at run time
// and only the functions of this file are compiled for it, each through its
// own target attribute, with internal linkage (common/build_config.hpp); its
// VTBL takes the table as two 8-byte registers and gives 8 bytes, so a lookup
// is two of them.
#include "modes/implementation.hpp"

#if AES128_NEON

#include <arm_neon.h>

#include <cstddef>
#include <cstdint>

#if defined(__arm__)
#include <sys/auxv.h>
#endif

// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if defined(__aarch64__)
#define AES128_CORE_ENTRY
#define AES128_CORE_INLINE __attribute__((always_inline)) inline
#else
#define AES128_CORE_ENTRY __attribute__((target("fpu=neon")))
#define AES128_CORE_INLINE __attribute__((target("fpu=neon"), always_inline)) inline
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "modes/implementation_of.hpp"
#include "vector_permute/core.hpp"

namespace aes128 {
namespace {

struct Neon {
  using Vector = uint8x16_t;

  // Two blocks: the rounds' tables take about half of the vector registers.
  static constexpr std::size_t lanes = 2;

  AES128_CORE_INLINE static Vector load(const std::uint8_t* bytes) { return vld1q_u8(bytes); }
  AES128_CORE_INLINE static void store(std::uint8_t* bytes, Vector value) {
    vst1q_u8(bytes, value);
  }
  AES128_CORE_INLINE static Vector constant(const vector_permute::Bytes& bytes) {
    return vld1q_u8(bytes.data());
  }
  AES128_CORE_INLINE static Vector bitwiseXor(Vector a, Vector b) { return veorq_u8(a, b); }
  // The doubled byte, less x^8 + x^4 + x^3 + x + 1 where its top bit was set
  // (an arithmetic shift spreads that bit over the byte).
  AES128_CORE_INLINE static Vector xtime(Vector bytes) {
    const Vector topBitSet = vreinterpretq_u8_s8(vshrq_n_s8(vreinterpretq_s8_u8(bytes), 7));
    return veorq_u8(vshlq_n_u8(bytes, 1), vandq_u8(topBitSet, vdupq_n_u8(0x1b)));
  }
  AES128_CORE_INLINE static Vector lowNibbles(Vector bytes) {
    return vandq_u8(bytes, vdupq_n_u8(0x0f));
  }
  AES128_CORE_INLINE static Vector highNibbles(Vector bytes, Vector /*lowNibbles*/) {
    return vshrq_n_u8(bytes, 4);
  }
  AES128_CORE_INLINE static Vector shuffle(Vector table, Vector index) {
#if defined(__aarch64__)
    return vqtbl1q_u8(table, index);
#else
    const uint8x8x2_t halves{{vget_low_u8(table), vget_high_u8(table)}};
    return vcombine_u8(vtbl2_u8(halves, vget_low_u8(index)), vtbl2_u8(halves, vget_high_u8(index)));
#endif
  }
  template <int bytes>
  AES128_CORE_INLINE static Vector shiftUp(Vector value) {
    return vextq_u8(vdupq_n_u8(0), value, 16 - bytes);
  }
};

bool cpuHasNeon() noexcept {
#if defined(__aarch64__)
  return true;
#else
  return (getauxval(AT_HWCAP) & HWCAP_ARM_NEON) != 0;
#endif
}

}  // namespace

extern constinit const Implementation neonImplementation =
    implementationOf<vector_permute::Core<Neon>>("neon", cpuHasNeon);

}  // namespace aes128

#endif
