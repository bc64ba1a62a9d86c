// What an x86 or x86-64 CPU offers, read with CPUID (and XGETBV for the
// registers the operating system saves), as the Intel and AMD manuals define
// the bits. Plain code, compiled for no particular instructions, so any
// implementation's `supported` may call it on any CPU.
#pragma once

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <immintrin.h>
#include <intrin.h>
#else
#include <cpuid.h>
#endif

namespace aes128::x86 {

struct CpuidRegisters {
  unsigned eax = 0;
  unsigned ebx = 0;
  unsigned ecx = 0;
  unsigned edx = 0;
};

// CPUID leaf `leaf`, subleaf 0; all zero where the CPU has no such leaf.
inline CpuidRegisters cpuid(unsigned leaf) noexcept {
  CpuidRegisters r;
#if defined(_MSC_VER) && !defined(__clang__)
  int highest[4];
  __cpuid(highest, static_cast<int>(leaf & 0x80000000U));
  if (static_cast<unsigned>(highest[0]) < leaf) {
    return r;
  }
  int registers[4];
  __cpuidex(registers, static_cast<int>(leaf), 0);
  r = {static_cast<unsigned>(registers[0]), static_cast<unsigned>(registers[1]),
       static_cast<unsigned>(registers[2]), static_cast<unsigned>(registers[3])};
#else
  if (__get_cpuid_count(leaf, 0, &r.eax, &r.ebx, &r.ecx, &r.edx) == 0) {
    return {};
  }
#endif
  return r;
}

// XCR0, the register states the operating system saves on a context switch;
// only to be read where CPUID leaf 1 shows OSXSAVE.
inline std::uint64_t xcr0() noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
  return _xgetbv(0);
#else
  unsigned low = 0;
  unsigned high = 0;
  __asm__ __volatile__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (std::uint64_t{high} << 32U) | low;
#endif
}

// The bits the implementations ask for.
inline constexpr unsigned leaf1EdxSse2 = 1U << 26;
inline constexpr unsigned leaf1EcxSsse3 = 1U << 9;
inline constexpr unsigned leaf1EcxAes = 1U << 25;
inline constexpr unsigned leaf1EcxOsxsave = 1U << 27;
inline constexpr unsigned leaf1EcxAvx = 1U << 28;
inline constexpr unsigned leaf7EbxAvx2 = 1U << 5;
inline constexpr unsigned leaf7EcxVaes = 1U << 9;
// XCR0: the SSE (XMM) and AVX (upper YMM halves) states.
inline constexpr std::uint64_t xcr0SseAndAvxState = 0x6;

}  // namespace aes128::x86

#endif
