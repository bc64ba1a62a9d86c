// The block core of AES by vector permutes, written once for any 16-byte
// vector unit with a byte shuffle; the constants and their derivation are in
// vector_permute/constants.hpp. No branch and no memory address depends on
// key or data: every lookup by a secret is a register shuffle.
//
// The including file defines AES128_CORE_INLINE (modes/cbc_mode.hpp),
// the attributes that compile a function for its vector instructions and
// inline it (so that nothing here is compiled for them outside that file's
// entry points), and a policy class Ops with, all static and so attributed:
//   Vector                          the 16-byte vector type
//   load(const std::uint8_t*), store(std::uint8_t*, Vector)   unaligned
//   constant(const Bytes&)          a 16-byte-aligned constant
//   bitwiseXor(Vector, Vector)
//   xtime(Vector)                   each byte times {02} in GF(2^8)
//   lowNibbles(Vector bytes)        each byte's low nibble
//   highNibbles(Vector bytes, Vector lowNibbles)   each byte's high nibble
//   shuffle(Vector table, Vector index)      byte i = table[index[i]], 0 for
//                                            indices 0x80..0x8f
//   shiftUp<bytes>(Vector)          towards the higher byte positions
//   lanes                           blocks taken together, where they do
//                                   not depend on each other
#pragma once

#ifndef AES128_CORE_INLINE
#error "define AES128_CORE_INLINE before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <utility>

#include "common/key_schedule.hpp"
#include "modes/block_core.hpp"
#include "modes/key_expansion.hpp"
#include "vector_permute/constants.hpp"

namespace aes128::vector_permute {

template <typename Ops>
struct Core {
  using Vector = typename Ops::Vector;
  template <Schedule>
  using RoundKeys = Vector[roundKeyCount];
  using Block = Vector;
  using Key = Vector;
  using Lane = Vector;
  static constexpr std::size_t blocksPerLane = 1;
  static constexpr bool lanesInRegisters = true;
  static constexpr std::size_t lanes = Ops::lanes;
  static constexpr bool unrollEncryption = false;
  // Round keys go into the rounds' basis and byte order as they are placed;
  // InvMixColumns by shuffles.
  static constexpr CoreHooks hooks{.place = true, .invMixColumns = true};

  AES128_CORE_INLINE static Vector load(const std::uint8_t* bytes) { return Ops::load(bytes); }
  AES128_CORE_INLINE static void store(std::uint8_t* bytes, Vector block) {
    Ops::store(bytes, block);
  }
  AES128_CORE_INLINE static Vector bitwiseXor(Vector a, Vector b) { return Ops::bitwiseXor(a, b); }

  // A nibble pair in two vectors.
  struct Pair {
    Vector first;
    Vector second;
  };
  struct Inverted {
    Vector io;
    Vector jo;
  };

  AES128_CORE_INLINE static Pair loadPair(const NibblePair& pair) {
    return {Ops::constant(pair.first), Ops::constant(pair.second)};
  }

  AES128_CORE_INLINE static Vector bytesThrough(const Pair& pair, Vector bytes) {
    const Vector low = Ops::lowNibbles(bytes);
    return Ops::bitwiseXor(Ops::shuffle(pair.first, low),
                           Ops::shuffle(pair.second, Ops::highNibbles(bytes, low)));
  }

  // io and jo of each byte, as vector_permute/constants.hpp derives them.
  AES128_CORE_INLINE static Inverted invert(Vector state) {
    const Vector inverse = Ops::constant(inverseTable);
    const Vector a = Ops::lowNibbles(state);
    const Vector b = Ops::highNibbles(state, a);
    const Vector ak = Ops::shuffle(Ops::constant(alphaOverTable), b);
    const Vector j = Ops::bitwiseXor(a, b);
    const Vector p = Ops::bitwiseXor(Ops::shuffle(inverse, a), ak);
    const Vector q = Ops::bitwiseXor(Ops::shuffle(inverse, j), ak);
    return {Ops::bitwiseXor(Ops::shuffle(inverse, p), j),
            Ops::bitwiseXor(Ops::shuffle(inverse, q), a)};
  }

  AES128_CORE_INLINE static Vector inverseThrough(const Pair& pair, Inverted x) {
    return Ops::bitwiseXor(Ops::shuffle(pair.first, x.io), Ops::shuffle(pair.second, x.jo));
  }

  AES128_CORE_INLINE static Vector reorder(Vector state, const Order& order) {
    return Ops::shuffle(state, Ops::constant(order));
  }

  // --- Key expansion, FIPS-197 section 5.2, SubWord through the same lookups --

  // Round key i+1 from round key i, in the AES basis.
  template <std::size_t i>
  AES128_CORE_INLINE static Vector nextRoundKey(Vector key) {
    const Vector substituted =
        inverseThrough(loadPair(sboxLast), invert(bytesThrough(loadPair(encryptionInput), key)));
    const Vector word = Ops::bitwiseXor(reorder(substituted, rotWordOfLastWord),
                                        Ops::constant(subWordConstants[i]));
    key = Ops::bitwiseXor(key, Ops::template shiftUp<4>(key));
    key = Ops::bitwiseXor(key, Ops::template shiftUp<8>(key));
    return Ops::bitwiseXor(key, word);
  }

  // Encryption round keys: phi(k0); for m = 1..9 phi(k_m + 0x63) in the
  // state's order; k10 + 0x63 for the last round, in the AES basis.
  // Decryption round keys, m = 0..10 for expansion round key 10 - m: for
  // m = 0..9 the decryption-basis image of the key (through InvMixColumns for
  // m > 0) plus phi(5), in the state's order; k0 for the last round.
  AES128_CORE_INLINE static Vector loadKey(const std::uint8_t* bytes) { return Ops::load(bytes); }

  template <Schedule schedule, std::size_t r>
  AES128_CORE_INLINE static void place(RoundKeys<schedule>& roundKeys, Vector key) {
    constexpr std::size_t m = placeOf(schedule, r);
    if constexpr (schedule == Schedule::encryption) {
      roundKeys[m] = encryptionRoundKey(m, key);
    } else if constexpr (throughInvMixColumns(schedule, r)) {
      roundKeys[m] = intoDecryptionState(m, invMixColumnsIntoDecryptionBasis(key));
    } else {
      roundKeys[m] = decryptionRoundKey(m, key);
    }
  }

  // Round key m of the encryption schedule, in the AES basis, in the core's
  // form.
  AES128_CORE_INLINE static Vector encryptionRoundKey(std::size_t m, Vector key) {
    if (m == 0) {
      return bytesThrough(loadPair(encryptionInput), key);
    }
    if (m == roundKeyCount - 1) {
      return Ops::bitwiseXor(key, Ops::constant(sboxConstantInAesBasis));
    }
    return reorder(Ops::bitwiseXor(bytesThrough(loadPair(encryptionInput), key),
                                   Ops::constant(sboxConstantInTower)),
                   encryptionShuffles.toRoundKeyOrder[m % 4]);
  }

  // Round key m of the equivalent inverse cipher's schedule, in the AES
  // basis and through InvMixColumns where that schedule has it, in the
  // core's form.
  AES128_CORE_INLINE static Vector decryptionRoundKey(std::size_t m, Vector key) {
    if (m == roundKeyCount - 1) {
      return key;
    }
    return intoDecryptionState(m, bytesThrough(loadPair(decryptionInput), key));
  }

  // A decryption-basis round key plus phi(5), in the order of round m's state.
  AES128_CORE_INLINE static Vector intoDecryptionState(std::size_t m, Vector image) {
    return reorder(Ops::bitwiseXor(image, Ops::constant(inverseSboxConstantInTower)),
                   decryptionShuffles.toRoundKeyOrder[m % 4]);
  }

  // 14 k + R(11 k + R(13 k + R(9 k))), each multiple in the decryption basis.
  AES128_CORE_INLINE static Vector invMixColumnsIntoDecryptionBasis(Vector key) {
    const Vector rotation = Ops::constant(columnRotation);
    Vector mixed = bytesThrough(loadPair(keyTimes<9>), key);
    mixed =
        Ops::bitwiseXor(bytesThrough(loadPair(keyTimes<13>), key), Ops::shuffle(mixed, rotation));
    mixed =
        Ops::bitwiseXor(bytesThrough(loadPair(keyTimes<11>), key), Ops::shuffle(mixed, rotation));
    return Ops::bitwiseXor(bytesThrough(loadPair(keyTimes<14>), key),
                           Ops::shuffle(mixed, rotation));
  }

  template <Schedule schedule>
  AES128_CORE_INLINE static void expandKey(const std::uint8_t* key,
                                           RoundKeys<schedule>& roundKeys) {
    expandKeyByRounds<Core, schedule>(key, roundKeys);
  }

  // --- Round keys as the block functions' words ------------------------------

  // InvMixColumns in the AES basis (FIPS-197 section 5.3.3), by arithmetic:
  // MixColumns of v = a + {04}(a + a two rows down), where MixColumns is
  // {02}(v + R v) + R v + R^2 v + R^3 v, R moving each byte one row up.
  AES128_CORE_INLINE static Vector invMixColumns(Vector a) {
    const Vector rotation = Ops::constant(columnRotation);
    const Vector a2 = Ops::shuffle(Ops::shuffle(a, rotation), rotation);
    const Vector v = Ops::bitwiseXor(a, Ops::xtime(Ops::xtime(Ops::bitwiseXor(a, a2))));
    const Vector v1 = Ops::shuffle(v, rotation);
    const Vector v2 = Ops::shuffle(v1, rotation);
    const Vector v3 = Ops::shuffle(v2, rotation);
    return Ops::bitwiseXor(Ops::bitwiseXor(Ops::xtime(Ops::bitwiseXor(v, v1)), v1),
                           Ops::bitwiseXor(v2, v3));
  }

  AES128_CORE_INLINE static void storeWords(std::uint32_t* words, Vector key) {
    Ops::store(reinterpret_cast<std::uint8_t*>(words), reorder(key, wordByteSwap));
  }

  // The block functions' round keys, each turned into the core's form where
  // it is used (every index is a constant there), as the expansion would
  // have placed it; the decryption schedule's are through InvMixColumns
  // already.
  template <Schedule schedule>
  struct WordKeys {
    const std::uint32_t* words;
    template <std::size_t m>
    AES128_CORE_INLINE Vector at() const {
      const Vector key =
          reorder(Ops::load(reinterpret_cast<const std::uint8_t*>(words + 4 * m)), wordByteSwap);
      return schedule == Schedule::encryption ? encryptionRoundKey(m, key)
                                              : decryptionRoundKey(m, key);
    }
  };

  // --- Encryption ----------------------------------------------------------------

  // The tables of the rounds, loaded once per call.
  struct EncryptionTables {
    Pair input;
    Pair times1;
    Pair times2;
    Pair last;
  };

  // Round m = 1..9: SubBytes (times 1 and 2), ShiftRows by the state's order,
  // MixColumns as 2 s + R(3 s) + R^2(s) + R^3(s) = X + R(X) + R^3(s) with
  // X = 2 s + R(s), AddRoundKey.
  template <std::size_t m>
  AES128_CORE_INLINE static Vector encryptRound(const EncryptionTables& tables, Vector state,
                                                Vector roundKey) {
    const Inverted x = invert(state);
    const Vector times1 = inverseThrough(tables.times1, x);
    const Vector times2 = inverseThrough(tables.times2, x);
    const Vector rotate1 = Ops::constant(encryptionShuffles.rotate1[m % 4]);
    const Vector mixed = Ops::bitwiseXor(times2, Ops::shuffle(times1, rotate1));
    const Vector rest = Ops::bitwiseXor(
        Ops::shuffle(times1, Ops::constant(encryptionShuffles.rotate3[m % 4])), mixed);
    return Ops::bitwiseXor(Ops::bitwiseXor(Ops::shuffle(mixed, rotate1), rest), roundKey);
  }

  template <std::size_t n>
  using Lanes = Vector[n];

  template <std::size_t m, std::size_t n>
  AES128_CORE_INLINE static void encryptRoundOfLanes(const EncryptionTables& tables,
                                                     Lanes<n>& state, Vector roundKey) {
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = encryptRound<m>(tables, lane, roundKey);
    }
  }

  template <std::size_t n, typename Keys, std::size_t... m>
  AES128_CORE_INLINE static void encryptBlocks(const EncryptionTables& tables,
                                               const Keys& roundKeys, Lanes<n>& state,
                                               std::index_sequence<m...> /*rounds*/) {
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = Ops::bitwiseXor(bytesThrough(tables.input, lane), roundKey<0>(roundKeys));
    }
    (encryptRoundOfLanes<m + 1>(tables, state, roundKey<m + 1>(roundKeys)), ...);
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = Ops::bitwiseXor(reorder(inverseThrough(tables.last, invert(lane)), lastRoundOrder),
                             roundKey<roundKeyCount - 1>(roundKeys));
    }
  }

  // n blocks in place, each lane a block: where they do not depend on each
  // other, the processor overlaps them.
  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void encrypt(const Keys& roundKeys, Lanes<n>& state) {
    const EncryptionTables tables{loadPair(encryptionInput), loadPair(sboxTimes1),
                                  loadPair(sboxTimes2), loadPair(sboxLast)};
    encryptBlocks(tables, readAgain(roundKeys), state,
                  std::make_index_sequence<roundKeyCount - 2>{});
  }

  template <typename Keys>
  AES128_CORE_INLINE static Vector encrypt(const Keys& roundKeys, Vector block) {
    Lanes<1> state = {block};
    encrypt(roundKeys, state);
    return state[0];
  }

  // --- Decryption ----------------------------------------------------------------

  struct DecryptionTables {
    Pair input;
    Pair times14;
    Pair times11;
    Pair times13;
    Pair times9;
    Pair last;
  };

  // Round m = 1..9 of the equivalent inverse cipher: InvSubBytes times 14,
  // 11, 13 and 9, InvShiftRows by the state's order, InvMixColumns as
  // 14 s + R(11 s + R(13 s + R(9 s))), AddRoundKey; each lane a block. The
  // round key is taken where it is added: the block functions make it from
  // their words there, and made at the start of the round it waited in a
  // stack slot that no wipe reaches (GCC, x86-64).
  template <std::size_t m, std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decryptRound(const DecryptionTables& tables, Lanes<n>& state,
                                              const Keys& roundKeys) {
    const Vector rotate1 = Ops::constant(decryptionShuffles.rotate1[m % 4]);
#pragma GCC unroll 4
    for (Vector& lane : state) {
      const Inverted x = invert(lane);
      Vector mixed = inverseThrough(tables.times9, x);
      mixed = Ops::bitwiseXor(inverseThrough(tables.times13, x), Ops::shuffle(mixed, rotate1));
      mixed = Ops::bitwiseXor(inverseThrough(tables.times11, x), Ops::shuffle(mixed, rotate1));
      mixed = Ops::bitwiseXor(
          Ops::bitwiseXor(inverseThrough(tables.times14, x), roundKey<m>(roundKeys)),
          Ops::shuffle(mixed, rotate1));
      lane = mixed;
    }
  }

  template <std::size_t n, typename Keys, std::size_t... m>
  AES128_CORE_INLINE static void decryptBlocks(const DecryptionTables& tables,
                                               const Keys& roundKeys, Lanes<n>& state,
                                               std::index_sequence<m...> /*rounds*/) {
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = Ops::bitwiseXor(bytesThrough(tables.input, lane), roundKey<0>(roundKeys));
    }
    (decryptRound<m + 1>(tables, state, roundKeys), ...);
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = Ops::bitwiseXor(reorder(inverseThrough(tables.last, invert(lane)), lastRoundOrder),
                             roundKey<roundKeyCount - 1>(roundKeys));
    }
  }

  // n blocks in place, each lane a block: they do not depend on each other,
  // so that the processor overlaps them.
  template <std::size_t n, typename Keys>
  AES128_CORE_INLINE static void decrypt(const Keys& roundKeys, Lanes<n>& state) {
    const DecryptionTables tables{loadPair(decryptionInput),      loadPair(inverseSboxTimes<14>),
                                  loadPair(inverseSboxTimes<11>), loadPair(inverseSboxTimes<13>),
                                  loadPair(inverseSboxTimes<9>),  loadPair(inverseSboxLast)};
    decryptBlocks(tables, readAgain(roundKeys), state,
                  std::make_index_sequence<roundKeyCount - 2>{});
  }
};

}  // namespace aes128::vector_permute
