// Attributes for the functions of an x86 implementation compiled for
// particular instructions: each function carries its own target, so nothing
// else in the program is compiled for them, and no global flag or pragma is
// needed. `features` is a string literal as GCC and Clang spell them, such as
// "aes,sse2".
#pragma once

// Macros, not constants: attributes cannot be passed any other way.
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if defined(_MSC_VER) && !defined(__clang__)
#define AES128_X86_ENTRY(features)
#define AES128_X86_INLINE(features) __forceinline
#else
// An entry point of an implementation, called from plain code. 32-bit Windows
// keeps the stack only 4-byte aligned, and the implementations keep 16-byte
// vectors on it: there the entry points realign it.
#if defined(_WIN32) && defined(__i386__)
#define AES128_X86_ENTRY(features) __attribute__((target(features), force_align_arg_pointer))
#else
#define AES128_X86_ENTRY(features) __attribute__((target(features)))
#endif
// A helper of the entry points, always inlined into them.
#define AES128_X86_INLINE(features) __attribute__((target(features), always_inline)) inline
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)
