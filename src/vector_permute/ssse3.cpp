// CBC by vector permutes on x86 and x86-64 CPUs with SSSE3 but without
// AES-NI (Core 2, the Atoms, the AES-less Pentiums and Celerons): the S-box
// from 4-bit lookups held in registers, as vector_permute/constants.hpp
// derives it, with PSHUFB as the lookup (Intel's instruction set reference:
// byte i of the result is byte (index & 15) of the table, or 0 where bit 7 of
// the index is set). Constant-time: every lookup by a key- or data-dependent
// index is a PSHUFB between registers, and nothing branches on them.
//
// Only the functions of this file are compiled for SSSE3, each through its
// own target attribute, with internal linkage (common/build_config.hpp).
#include "modes/implementation.hpp"

#if AES128_X86

#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstddef>
#include <cstdint>

#include "common/x86_cpu.hpp"
#include "common/x86_target.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#define AES128_CORE_ENTRY AES128_X86_ENTRY("ssse3")
#define AES128_CORE_INLINE AES128_X86_INLINE("ssse3")
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "modes/implementation_of.hpp"
#include "vector_permute/core.hpp"

namespace aes128 {
namespace {

struct Ssse3 {
  using Vector = __m128i;

  // Two blocks: with 16 vector registers (8 on 32-bit x86) and about a dozen
  // tables, more would only spill.
  static constexpr std::size_t lanes = 2;

  AES128_CORE_INLINE static Vector load(const std::uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  }
  AES128_CORE_INLINE static void store(std::uint8_t* bytes, Vector value) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), value);
  }
  // An aligned load, which the compiler can fold into the instruction using it.
  AES128_CORE_INLINE static Vector constant(const vector_permute::Bytes& bytes) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes.data()));
  }
  AES128_CORE_INLINE static Vector bitwiseXor(Vector a, Vector b) { return _mm_xor_si128(a, b); }
  // The doubled byte, less x^8 + x^4 + x^3 + x + 1 where its top bit was set
  // (a signed comparison with zero tells which).
  AES128_CORE_INLINE static Vector xtime(Vector bytes) {
    const Vector topBitSet = _mm_cmplt_epi8(bytes, _mm_setzero_si128());
    const Vector doubled = _mm_add_epi8(bytes, bytes);
    return _mm_xor_si128(doubled, _mm_and_si128(topBitSet, _mm_set1_epi8(0x1b)));
  }
  AES128_CORE_INLINE static Vector lowNibbles(Vector bytes) {
    return _mm_and_si128(bytes, _mm_set1_epi8(0x0f));
  }
  // SSE2 has no byte shift, but with the low nibbles cleared a word shift
  // brings only zeros into the high bits of each byte.
  AES128_CORE_INLINE static Vector highNibbles(Vector bytes, Vector lowNibbles) {
    return _mm_srli_epi16(_mm_xor_si128(bytes, lowNibbles), 4);
  }
  AES128_CORE_INLINE static Vector shuffle(Vector table, Vector index) {
    return _mm_shuffle_epi8(table, index);
  }
  template <int bytes>
  AES128_CORE_INLINE static Vector shiftUp(Vector value) {
    return _mm_slli_si128(value, bytes);
  }
};

bool cpuHasSsse3() noexcept {
  const x86::CpuidRegisters leaf1 = x86::cpuid(1);
  return (leaf1.ecx & x86::leaf1EcxSsse3) != 0 && (leaf1.edx & x86::leaf1EdxSse2) != 0;
}

}  // namespace

extern constinit const Implementation ssse3Implementation =
    implementationOf<vector_permute::Core<Ssse3>>("ssse3", cpuHasSsse3);

}  // namespace aes128

#endif
