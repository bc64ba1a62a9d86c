// CBC with the AES instructions of x86 and x86-64 (AES-NI): the block core
// of aes_instructions/aesni_core.hpp, which says what each instruction computes,
// under the CBC mode of modes/cbc_mode.hpp. No lookup depends on key or
// data, and no branch on anything but the length.
//
// Only the functions of this file and of those headers are compiled for
// AES-NI, each through its own target attribute, with internal linkage
// (common/build_config.hpp).
#include "modes/implementation.hpp"

#if AES128_X86

#include "common/x86_cpu.hpp"
#include "common/x86_target.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage): attributes
#define AES128_CORE_ENTRY AES128_X86_ENTRY("aes,ssse3,sse2")
#define AES128_CORE_INLINE AES128_X86_INLINE("aes,ssse3,sse2")
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "aes_instructions/aesni_core.hpp"
#include "modes/implementation_of.hpp"

namespace aes128 {
namespace {

// Every CPU with AES-NI has SSSE3 too, whose byte shuffle turns the block
// functions' words into round keys.
bool cpuHasAesNi() noexcept {
  const x86::CpuidRegisters leaf1 = x86::cpuid(1);
  constexpr unsigned ecxNeeds = x86::leaf1EcxAes | x86::leaf1EcxSsse3;
  return (leaf1.ecx & ecxNeeds) == ecxNeeds && (leaf1.edx & x86::leaf1EdxSse2) != 0;
}

}  // namespace

extern constinit const Implementation aesNiImplementation =
    implementationOf<AesNiCore>("aes-ni", cpuHasAesNi);

}  // namespace aes128

#endif
