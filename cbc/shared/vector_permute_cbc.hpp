// CBC by vector permutes, written once for any 16-byte vector unit with a
// byte shuffle; the constants and their derivation are in vector_permute.hpp.
// No branch and no memory address depends on key, IV or data: every lookup
// by a secret is a register shuffle.
//
// The including file defines AES_VECTOR_PERMUTE_INLINE, the attributes that
// compile a function for its vector instructions and inline it (so that
// nothing here is compiled for them outside that file's entry points), and a
// policy class Ops with, all static and so attributed:
//   Vector                          the 16-byte vector type
//   load(const std::uint8_t*), store(std::uint8_t*, Vector)   unaligned
//   constant(const Bytes&)          a 16-byte-aligned constant
//   zero(), bitwiseXor(Vector, Vector)
//   lowNibbles(Vector bytes)        each byte's low nibble
//   highNibbles(Vector bytes, Vector lowNibbles)   each byte's high nibble
//   shuffle(Vector table, Vector index)      byte i = table[index[i]], 0 for
//                                            indices 0x80..0x8f
//   shiftUp<bytes>(Vector)          towards the higher byte positions
//   decryptionLanes                 blocks decrypted together
#pragma once

#ifndef AES_VECTOR_PERMUTE_INLINE
#error "define AES_VECTOR_PERMUTE_INLINE before including this file"
#endif

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cbc/shared/vector_permute.hpp"

namespace aes_cbc::vector_permute {

template <typename Ops>
struct Cbc {
  using Vector = typename Ops::Vector;
  using RoundKeys = Vector[roundKeyCount];
  static constexpr std::size_t blockBytes = 16;

  // A nibble pair in two vectors.
  struct Pair {
    Vector first;
    Vector second;
  };
  struct Inverted {
    Vector io;
    Vector jo;
  };

  AES_VECTOR_PERMUTE_INLINE static Pair load(const NibblePair& pair) {
    return {Ops::constant(pair.first), Ops::constant(pair.second)};
  }

  AES_VECTOR_PERMUTE_INLINE static Vector bytesThrough(const Pair& pair, Vector bytes) {
    const Vector low = Ops::lowNibbles(bytes);
    return Ops::bitwiseXor(Ops::shuffle(pair.first, low),
                           Ops::shuffle(pair.second, Ops::highNibbles(bytes, low)));
  }

  // io and jo of each byte, as vector_permute.hpp derives them.
  AES_VECTOR_PERMUTE_INLINE static Inverted invert(Vector state) {
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

  AES_VECTOR_PERMUTE_INLINE static Vector inverseThrough(const Pair& pair, Inverted x) {
    return Ops::bitwiseXor(Ops::shuffle(pair.first, x.io), Ops::shuffle(pair.second, x.jo));
  }

  AES_VECTOR_PERMUTE_INLINE static Vector reorder(Vector state, const Order& order) {
    return Ops::shuffle(state, Ops::constant(order));
  }

  // --- Key expansion, FIPS-197 section 5.2, SubWord through the same lookups --

  // Round key i+1 from round key i, in the AES basis.
  template <std::size_t i>
  AES_VECTOR_PERMUTE_INLINE static Vector nextRoundKey(Vector key) {
    const Vector substituted =
        inverseThrough(load(sboxLast), invert(bytesThrough(load(encryptionInput), key)));
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
  template <Schedule schedule, std::size_t r>
  AES_VECTOR_PERMUTE_INLINE static void place(RoundKeys& roundKeys, Vector key) {
    constexpr std::size_t m = placeOf(schedule, r);
    if constexpr (schedule == Schedule::encryption && m == 0) {
      roundKeys[m] = bytesThrough(load(encryptionInput), key);
    } else if constexpr (schedule == Schedule::encryption && m == roundKeyCount - 1) {
      roundKeys[m] = Ops::bitwiseXor(key, Ops::constant(sboxConstant));
    } else if constexpr (schedule == Schedule::encryption) {
      roundKeys[m] = reorder(Ops::bitwiseXor(bytesThrough(load(encryptionInput), key),
                                             Ops::constant(sboxConstantInTower)),
                             encryptionShuffles.toRoundKeyOrder[m % 4]);
    } else if constexpr (m == roundKeyCount - 1) {
      roundKeys[m] = key;
    } else if constexpr (throughInvMixColumns(schedule, r)) {
      roundKeys[m] = intoDecryptionState<m>(invMixColumnsIntoDecryptionBasis(key));
    } else {
      roundKeys[m] = intoDecryptionState<m>(bytesThrough(load(decryptionInput), key));
    }
  }

  // A decryption-basis round key plus phi(5), in the order of round m's state.
  template <std::size_t m>
  AES_VECTOR_PERMUTE_INLINE static Vector intoDecryptionState(Vector image) {
    return reorder(Ops::bitwiseXor(image, Ops::constant(inverseSboxConstantInTower)),
                   decryptionShuffles.toRoundKeyOrder[m % 4]);
  }

  // 14 k + R(11 k + R(13 k + R(9 k))), each multiple in the decryption basis.
  AES_VECTOR_PERMUTE_INLINE static Vector invMixColumnsIntoDecryptionBasis(Vector key) {
    const Vector rotation = Ops::constant(columnRotation);
    Vector mixed = bytesThrough(load(keyTimes<9>), key);
    mixed = Ops::bitwiseXor(bytesThrough(load(keyTimes<13>), key), Ops::shuffle(mixed, rotation));
    mixed = Ops::bitwiseXor(bytesThrough(load(keyTimes<11>), key), Ops::shuffle(mixed, rotation));
    return Ops::bitwiseXor(bytesThrough(load(keyTimes<14>), key), Ops::shuffle(mixed, rotation));
  }

  template <Schedule schedule, std::size_t... i>
  AES_VECTOR_PERMUTE_INLINE static void expandKey(const std::uint8_t* key, RoundKeys& roundKeys,
                                                  std::index_sequence<i...> /*steps*/) {
    Vector roundKey = Ops::load(key);
    place<schedule, 0>(roundKeys, roundKey);
    ((roundKey = nextRoundKey<i>(roundKey), place<schedule, i + 1>(roundKeys, roundKey)), ...);
  }

  template <Schedule schedule>
  AES_VECTOR_PERMUTE_INLINE static void expandKey(const std::uint8_t* key, RoundKeys& roundKeys) {
    expandKey<schedule>(key, roundKeys, std::make_index_sequence<roundKeyCount - 1>{});
  }

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
  AES_VECTOR_PERMUTE_INLINE static Vector encryptRound(const EncryptionTables& tables, Vector state,
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

  template <std::size_t... m>
  AES_VECTOR_PERMUTE_INLINE static Vector encryptBlock(const EncryptionTables& tables,
                                                       const RoundKeys& roundKeys, Vector block,
                                                       std::index_sequence<m...> /*rounds*/) {
    Vector state = Ops::bitwiseXor(bytesThrough(tables.input, block), roundKeys[0]);
    ((state = encryptRound<m + 1>(tables, state, roundKeys[m + 1])), ...);
    return Ops::bitwiseXor(reorder(inverseThrough(tables.last, invert(state)), lastRoundOrder),
                           roundKeys[roundKeyCount - 1]);
  }

  // Each block waits for the ciphertext of the one before: encryption is
  // serial.
  AES_VECTOR_PERMUTE_INLINE static void encrypt(std::span<const std::uint8_t, 16> key,
                                                std::span<const std::uint8_t, 16> iv,
                                                std::uint8_t* data, std::uint32_t length) {
    RoundKeys roundKeys;
    expandKey<Schedule::encryption>(key.data(), roundKeys);
    const EncryptionTables tables{load(encryptionInput), load(sboxTimes1), load(sboxTimes2),
                                  load(sboxLast)};
    Vector chain = Ops::load(iv.data());
    const std::size_t blocks = length / blockBytes;
    for (std::size_t b = 0; b < blocks; ++b) {
      std::uint8_t* block = data + b * blockBytes;
      chain = encryptBlock(tables, roundKeys, Ops::bitwiseXor(chain, Ops::load(block)),
                           std::make_index_sequence<roundKeyCount - 2>{});
      Ops::store(block, chain);
    }
    // The chain holds only ciphertext, which the caller has anyway.
    secure_wipe(roundKeys, sizeof roundKeys);
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

  template <std::size_t lanes>
  using Lanes = Vector[lanes];

  // Round m = 1..9 of the equivalent inverse cipher: InvSubBytes times 14,
  // 11, 13 and 9, InvShiftRows by the state's order, InvMixColumns as
  // 14 s + R(11 s + R(13 s + R(9 s))), AddRoundKey; each lane a block.
  template <std::size_t m, std::size_t lanes>
  AES_VECTOR_PERMUTE_INLINE static void decryptRound(const DecryptionTables& tables,
                                                     Lanes<lanes>& state, Vector roundKey) {
    const Vector rotate1 = Ops::constant(decryptionShuffles.rotate1[m % 4]);
#pragma GCC unroll 4
    for (Vector& lane : state) {
      const Inverted x = invert(lane);
      Vector mixed = inverseThrough(tables.times9, x);
      mixed = Ops::bitwiseXor(inverseThrough(tables.times13, x), Ops::shuffle(mixed, rotate1));
      mixed = Ops::bitwiseXor(inverseThrough(tables.times11, x), Ops::shuffle(mixed, rotate1));
      mixed = Ops::bitwiseXor(Ops::bitwiseXor(inverseThrough(tables.times14, x), roundKey),
                              Ops::shuffle(mixed, rotate1));
      lane = mixed;
    }
  }

  template <std::size_t lanes, std::size_t... m>
  AES_VECTOR_PERMUTE_INLINE static void decryptBlocks(const DecryptionTables& tables,
                                                      const RoundKeys& roundKeys,
                                                      Lanes<lanes>& state,
                                                      std::index_sequence<m...> /*rounds*/) {
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = Ops::bitwiseXor(bytesThrough(tables.input, lane), roundKeys[0]);
    }
    (decryptRound<m + 1>(tables, state, roundKeys[m + 1]), ...);
#pragma GCC unroll 4
    for (Vector& lane : state) {
      lane = Ops::bitwiseXor(reorder(inverseThrough(tables.last, invert(lane)), lastRoundOrder),
                             roundKeys[roundKeyCount - 1]);
    }
  }

  // `lanes` blocks from `blocks` on, in place; `chain` is the ciphertext
  // before them and becomes the last of them.
  template <std::size_t lanes>
  AES_VECTOR_PERMUTE_INLINE static void decryptGroup(const DecryptionTables& tables,
                                                     const RoundKeys& roundKeys,
                                                     std::uint8_t* blocks, Vector& chain) {
    Lanes<lanes> cipher;
    Lanes<lanes> state;
#pragma GCC unroll 4
    for (std::size_t i = 0; i < lanes; ++i) {
      cipher[i] = Ops::load(blocks + i * blockBytes);
      state[i] = cipher[i];
    }
    decryptBlocks(tables, roundKeys, state, std::make_index_sequence<roundKeyCount - 2>{});
#pragma GCC unroll 4
    for (std::size_t i = 0; i < lanes; ++i) {
      Ops::store(blocks + i * blockBytes,
                 Ops::bitwiseXor(state[i], i == 0 ? chain : cipher[i - 1]));
    }
    chain = cipher[lanes - 1];
  }

  // Decryption blocks do not depend on each other: Ops::decryptionLanes go
  // through the rounds together, so that the processor overlaps them. Every
  // block's ciphertext is read before any of the group is written.
  AES_VECTOR_PERMUTE_INLINE static void decrypt(std::span<const std::uint8_t, 16> key,
                                                std::span<const std::uint8_t, 16> iv,
                                                std::uint8_t* data, std::uint32_t length) {
    RoundKeys roundKeys;
    expandKey<Schedule::decryption>(key.data(), roundKeys);
    const DecryptionTables tables{load(decryptionInput),      load(inverseSboxTimes<14>),
                                  load(inverseSboxTimes<11>), load(inverseSboxTimes<13>),
                                  load(inverseSboxTimes<9>),  load(inverseSboxLast)};
    Vector chain = Ops::load(iv.data());
    const std::size_t blocks = length / blockBytes;
    std::size_t b = 0;
    for (; b + Ops::decryptionLanes <= blocks; b += Ops::decryptionLanes) {
      decryptGroup<Ops::decryptionLanes>(tables, roundKeys, data + b * blockBytes, chain);
    }
    for (; b < blocks; ++b) {
      decryptGroup<1>(tables, roundKeys, data + b * blockBytes, chain);
    }
    // The chain holds only ciphertext, which the caller had anyway.
    secure_wipe(roundKeys, sizeof roundKeys);
  }
};

}  // namespace aes_cbc::vector_permute
