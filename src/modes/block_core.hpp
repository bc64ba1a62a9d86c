// What a block core is: one implementation's AES-128 on whole blocks, with
// nothing of any mode. The modes (modes/cbc_mode.hpp) are written once
// over the cores; each implementation's file in its family's folder is a
// core and the line that builds its implementation from them.
//
// A core is a struct of types and static functions, every function compiled
// for the core's instructions (and, where that costs no registers, inlined
// into the entry points that the including file compiles for them):
//
//   RoundKeys<schedule>    the round keys for Schedule::encryption or
//                          ::decryption, in the core's own form (vectors,
//                          bit-planes, words); an array or an aggregate that
//                          secureWipe reaches whole
//   expandKey<schedule>(key, roundKeys)
//                          key expansion, FIPS-197 section 5.2, from the 16
//                          key bytes; for decryption the equivalent inverse
//                          cipher's schedule of section 5.3.5, as the core's
//                          decryption takes it
//   Block                  one block as the core computes on it; load(bytes),
//                          store(bytes, block) and bitwiseXor(a, b)
//   encrypt(roundKeys, block) -> Block
//                          one block through the cipher
//   unrollEncryption       whether the encryption loop takes two blocks at a
//                          time, where its own instructions weigh
//   Lane, blocksPerLane    what decryption keeps per lane: a Block, or for a
//                          core that holds several blocks to a register or a
//                          group of words, those (then also loadLane,
//                          storeLane, bitwiseXor on lanes and
//                          firstPrevious(chain, bytes):
//                          the lane of the ciphertexts before the first lane's
//                          blocks)
//   lanes                  the lanes decrypted together, a power of two: as
//                          many as keep the core's units busy
//   decrypt<n>(roundKeys, Lane (&)[n])
//                          n = 1, 2, 4 ... lanes lanes in place through the
//                          inverse cipher
//   lanesInRegisters       false where lanes are arrays that live in memory:
//                          the mode then wipes them after each group. Memory
//                          a core works in besides (bit-planes) it wipes
//                          itself, with secureWipe.
#pragma once

#ifndef AES128_CORE_INLINE
#error "define AES128_CORE_INLINE before including this file"
#endif

#include <cstddef>

#include "common/key_schedule.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// Round key r of a schedule: the one way the cores read a round key. r is a
// constant, the rounds being written out, so that a core can give each round
// key its round's form. A schedule the core holds is an array, a round key to
// each element; the block functions' WordKeys make round key r from the
// caller's words where it is used, in at<r>().
template <std::size_t r, typename Keys>
AES128_CORE_INLINE auto roundKey(const Keys& keys) -> decltype(keys[r]) {
  return keys[r];
}
template <std::size_t r, typename Keys>
AES128_CORE_INLINE auto roundKey(const Keys& keys) -> decltype(keys.template at<r>()) {
  return keys.template at<r>();
}

}  // namespace

// The round keys, through a pointer that an empty assembly statement claims
// to change, so that the compiler reads them from their array where they are
// used. Otherwise it may keep them in registers from the expansion on, or
// copy them elsewhere; with more keys and blocks than registers it then
// stores copies to other stack slots, which the wipe does not reach and which
// cost stores of their own. Inlined into any core's code, it compiles to
// nothing.
template <typename RoundKeys>
[[gnu::always_inline]] inline const RoundKeys& readAgain(const RoundKeys& roundKeys) {
  const RoundKeys* keys = &roundKeys;
#if defined(__GNUC__) || defined(__clang__)
  __asm__ __volatile__("" : "+r"(keys));
#endif
  return *keys;
}

// The supported() test of a core in plain C++.
inline bool anyCpu() noexcept {
  return true;
}

}  // namespace aes128
