// AES128_EXPORT marks the library's public functions. The library is compiled
// with hidden visibility, so a shared libaes128 exports these and nothing
// else: its internals (the CBC implementations, their list, the round tables)
// stay private and can change without breaking programs linked to it.
//
// The build decides, through the definitions it passes on: AES128_STATIC for
// the static library and everything that compiles against it (the marks then
// add nothing), AES128_BUILDING while the shared library's own code is
// compiled; neither for users of the shared library. On Windows the functions
// are then exported from the DLL and imported by its users; elsewhere they
// keep default visibility.
#pragma once

// A macro, not a constant: it is an attribute on declarations.
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#if defined(AES128_STATIC)
#define AES128_EXPORT
#elif defined(_WIN32) || defined(__CYGWIN__)
#if defined(AES128_BUILDING)
#define AES128_EXPORT __declspec(dllexport)
#else
#define AES128_EXPORT __declspec(dllimport)
#endif
#else
#define AES128_EXPORT __attribute__((visibility("default")))
#endif
// NOLINTEND(cppcoreguidelines-macro-usage)
