// The constants of the vector-permute implementations (vector_permute/
// ssse3.cpp and neon.cpp), after M. Hamburg, "Accelerating AES with Vector
// Permute Instructions" (CHES 2009), derived here from the field definitions.
// Plain constexpr code: nothing here is compiled for particular instructions
// or evaluated at run time.
//
// The idea: a 16-byte register shuffle (SSSE3 PSHUFB, NEON TBL) looks up 16
// table entries at once, indexed by the low four bits of each byte. With the
// table in a register, a lookup by a secret index touches no memory. So every
// function of a byte that the cipher needs is built from functions of its
// nibbles.
//
// The tower field. GF(16) = GF(2)[z]/(z^4 + z + 1); GF(2^8) is represented as
// GF(16)[t]/(t^2 + t + nu) with nu = z^3 (8 in this numbering), for which
// t^2 + t + nu has no root in GF(16). A byte's low nibble a and high nibble b
// stand for a + b t. Since x^8 + x^4 + x^3 + x + 1 has a root g in the tower
// field, x -> g is a field isomorphism phi from the AES field: phi of a byte
// is the XOR of g^i over its set bits i, a linear map, hence two 16-entry
// lookups on the low and the high nibble, XORed ("a nibble pair" below).
//
// The inverse in the tower field. With N = a^2 + ab + nu b^2 (the norm),
// (a + b t)^-1 = ((a + b) + b t) / N. Write alpha = 1/nu, j = a + b and let
// 1/0 be an "infinity" that absorbs additions and has 1/infinity = 0. Then
//   ak = alpha / b,   io = 1/(1/a + ak) + j,   jo = 1/(1/j + ak) + a,
// and algebra gives io = alpha N / (b + alpha a), jo = alpha N / (b + alpha j),
// so that
//   1/io = (a + nu b) / N,   1/jo = (a + (1 + nu) b) / N,
//   b/N = 1/io + 1/jo,        (a + b)/N = nu/io + (1 + nu)/jo.
// The inverse is therefore T1[io] XOR T2[jo] for two tables of 16 entries,
// and so is any linear function of it: the tables fold in the S-box's affine
// map, the way back to the AES basis or on to the next round's basis, and the
// MixColumns multiples. Infinity is an index byte 0x80: both shuffles give 0
// for it, which is 1/infinity, and XORing a nibble into it keeps it at or
// above 0x80. Every case, zero included, is checked below for all 256 bytes.
//
// A round. The state stays in the tower basis from round to round, so a
// round is: split into nibbles, five lookups of GF(16) inverses for io and
// jo, two lookups per output multiple, and MixColumns as XORs of the outputs
// shuffled within their columns. ShiftRows costs nothing: the state is kept
// in the byte order that ShiftRows would have reached, and the column
// shuffles of round m are conjugated by the m-th power of ShiftRows (the
// round keys are stored in the same order). After ten rounds the order is
// the second power, undone by one shuffle.
//
// Decryption is the equivalent inverse cipher of FIPS-197 section 5.3.5. Its
// S-box inverts affine^-1(s) + 5, so the state is kept as the tower image of
// that value (the linear part in the nibble pair of the input, the constant
// in the round keys), and the four InvMixColumns multiples 14, 11, 13, 9
// each take an output table pair.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/gf256.hpp"
#include "common/key_schedule.hpp"

namespace aes128::vector_permute {

using Bytes = std::array<std::uint8_t, 16>;

// Two 16-entry tables whose lookups are XORed: by the low and the high nibble
// of a byte (a linear map of bytes), or by io and jo (a linear map of the
// inverse).
struct NibblePair {
  alignas(16) Bytes first;
  alignas(16) Bytes second;
};

// --- GF(16) and the tower field ---------------------------------------------

constexpr unsigned gf16Multiply(unsigned a, unsigned b) {
  unsigned product = 0;
  for (unsigned bit = 0; bit < 4; ++bit) {
    if (((b >> bit) & 1U) != 0) {
      product ^= a << bit;
    }
  }
  for (unsigned bit = 6; bit >= 4; --bit) {
    if (((product >> bit) & 1U) != 0) {
      product ^= 0x13U << (bit - 4);  // z^4 + z + 1
    }
  }
  return product;
}

// 0 maps to 0.
constexpr unsigned gf16Inverse(unsigned a) {
  for (unsigned candidate = 1; candidate < 16; ++candidate) {
    if (gf16Multiply(a, candidate) == 1) {
      return candidate;
    }
  }
  return 0;
}

inline constexpr unsigned nu = 8;
inline constexpr unsigned alpha = gf16Inverse(nu);

constexpr bool irreducibleOverGf16() {
  for (unsigned t = 0; t < 16; ++t) {
    if ((gf16Multiply(t, t) ^ t ^ nu) == 0) {
      return false;
    }
  }
  return true;
}
static_assert(irreducibleOverGf16(), "t^2 + t + nu must have no root in GF(16)");

constexpr std::uint8_t tower(unsigned low, unsigned high) {
  return static_cast<std::uint8_t>(low | (high << 4U));
}

// (a + b t)(c + d t) = ac + nu bd + (ad + bc + bd) t, as t^2 = t + nu.
constexpr std::uint8_t towerMultiply(std::uint8_t x, std::uint8_t y) {
  const unsigned a = x & 0xfU;
  const unsigned b = x >> 4U;
  const unsigned c = y & 0xfU;
  const unsigned d = y >> 4U;
  const unsigned bd = gf16Multiply(b, d);
  return tower(gf16Multiply(a, c) ^ gf16Multiply(nu, bd),
               gf16Multiply(a, d) ^ gf16Multiply(b, c) ^ bd);
}

// --- The isomorphism from the AES field -------------------------------------

constexpr std::uint8_t towerPower(std::uint8_t x, unsigned exponent) {
  std::uint8_t power = 1;
  for (unsigned n = 0; n < exponent; ++n) {
    power = towerMultiply(power, x);
  }
  return power;
}

// The first tower element that is a root of the AES modulus
// x^8 + x^4 + x^3 + x + 1: the image of x (the byte 0x02).
constexpr std::uint8_t imageOfX() {
  for (unsigned g = 2; g < 256; ++g) {
    const auto candidate = static_cast<std::uint8_t>(g);
    if ((towerPower(candidate, 8) ^ towerPower(candidate, 4) ^ towerPower(candidate, 3) ^
         candidate ^ 1U) == 0) {
      return candidate;
    }
  }
  return 0;
}

// phi: the AES byte sum(c_i x^i) to sum(c_i g^i).
inline constexpr ByteTable toTowerTable = [] {
  constexpr std::uint8_t g = imageOfX();
  return tabulate([](std::uint8_t aes) {
    std::uint8_t image = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (((aes >> bit) & 1U) != 0) {
        image ^= towerPower(g, bit);
      }
    }
    return image;
  });
}();
inline constexpr ByteTable fromTowerTable = [] {
  ByteTable table{};
  for (unsigned x = 0; x < 256; ++x) {
    table[toTowerTable[x]] = static_cast<std::uint8_t>(x);
  }
  return table;
}();

constexpr std::uint8_t toTower(std::uint8_t aes) {
  return toTowerTable[aes];
}
constexpr std::uint8_t fromTower(std::uint8_t image) {
  return fromTowerTable[image];
}

constexpr bool toTowerIsAnIsomorphism() {
  bool seen[256] = {};
  for (unsigned x = 0; x < 256; ++x) {
    const auto aes = static_cast<std::uint8_t>(x);
    // With linearity (by construction), multiplicativity by x extends to all
    // products.
    if (seen[toTower(aes)] || toTower(xtime(aes)) != towerMultiply(toTower(aes), toTower(0x02))) {
      return false;
    }
    seen[toTower(aes)] = true;
  }
  return toTower(1) == 1;
}
static_assert(toTowerIsAnIsomorphism());

// --- The affine parts of the S-boxes, taken from common/gf256.hpp ----------

inline constexpr ByteTable aesInverse = tabulate(inverse);

// The S-box without its constant: the affine map's linear part of the inverse
// (the inverse is an involution, so sbox(inverse(b)) is affine(b)).
constexpr std::uint8_t sboxLinear(std::uint8_t b) {
  return static_cast<std::uint8_t>(sboxTable[aesInverse[b]] ^ sboxConstant);
}

// What the inverse S-box inverts: affine^-1(s) + 5, split into its linear
// part and its constant.
constexpr std::uint8_t inverseSboxInput(std::uint8_t s) {
  return aesInverse[inverseSboxTable[s]];
}
inline constexpr std::uint8_t inverseSboxConstant = inverseSboxInput(0);
constexpr std::uint8_t inverseSboxInputLinear(std::uint8_t s) {
  return static_cast<std::uint8_t>(inverseSboxInput(s) ^ inverseSboxConstant);
}

// The state representations: encryption keeps phi(s), decryption
// phi(affine^-1(s) + 5) = decryptionBasis(s) + phi(5).
constexpr std::uint8_t decryptionBasis(std::uint8_t s) {
  return toTower(inverseSboxInputLinear(s));
}

// --- Tables -------------------------------------------------------------------

inline constexpr std::uint8_t infinity = 0x80;

// 1/i in GF(16), 1/0 = infinity.
alignas(16) inline constexpr Bytes inverseTable = [] {
  Bytes table{};
  table[0] = infinity;
  for (unsigned i = 1; i < 16; ++i) {
    table[i] = static_cast<std::uint8_t>(gf16Inverse(i));
  }
  return table;
}();

// alpha/i, alpha/0 = infinity.
alignas(16) inline constexpr Bytes alphaOverTable = [] {
  Bytes table{};
  table[0] = infinity;
  for (unsigned i = 1; i < 16; ++i) {
    table[i] = static_cast<std::uint8_t>(gf16Multiply(alpha, gf16Inverse(i)));
  }
  return table;
}();

// A linear map f of bytes as lookups by the low and the high nibble.
template <typename F>
constexpr NibblePair byNibbles(F f) {
  NibblePair pair{};
  for (unsigned i = 0; i < 16; ++i) {
    pair.first[i] = f(static_cast<std::uint8_t>(i));
    pair.second[i] = f(static_cast<std::uint8_t>(i << 4U));
  }
  return pair;
}

// A linear map f of the tower inverse (a tower element) as lookups by io and
// jo: T1[io] = f(nu u + u t) with u = 1/io, T2[jo] = f((1 + nu) w + w t)
// with w = 1/jo. Index 0 never occurs (checked by the model below).
template <typename F>
constexpr NibblePair ofInverse(F f) {
  NibblePair pair{};
  for (unsigned i = 0; i < 16; ++i) {
    const unsigned u = gf16Inverse(i);
    pair.first[i] = f(tower(gf16Multiply(nu, u), u));
    pair.second[i] = f(tower(gf16Multiply(1U ^ nu, u), u));
  }
  return pair;
}

// Into the encryption state's basis: phi.
inline constexpr NibblePair encryptionInput = byNibbles(toTower);
// Into the decryption state's basis, without the constant phi(5).
inline constexpr NibblePair decryptionInput = byNibbles(decryptionBasis);

// Encryption rounds: the S-box (without 0x63, which the round keys carry)
// times 1 and times 2 in the tower basis; the last round: the S-box without
// 0x63 in the AES basis. The key expansion's SubWord uses the last.
inline constexpr NibblePair sboxTimes1 =
    ofInverse([](std::uint8_t y) { return toTower(sboxLinear(fromTower(y))); });
inline constexpr NibblePair sboxTimes2 =
    ofInverse([](std::uint8_t y) { return toTower(xtime(sboxLinear(fromTower(y)))); });
inline constexpr NibblePair sboxLast =
    ofInverse([](std::uint8_t y) { return sboxLinear(fromTower(y)); });

// Decryption rounds: the inverse S-box times c, in the decryption basis; the
// last round: the inverse S-box in the AES basis.
template <std::uint8_t c>
inline constexpr NibblePair inverseSboxTimes = ofInverse([](std::uint8_t y) {
  return decryptionBasis(gmul(c, fromTower(y)));
});
inline constexpr NibblePair inverseSboxLast = ofInverse(fromTower);

// The decryption round keys: InvMixColumns of an AES-basis key, multiple c,
// into the decryption basis.
template <std::uint8_t c>
inline constexpr NibblePair keyTimes = byNibbles([](std::uint8_t k) {
  return decryptionBasis(gmul(c, k));
});

// The same byte in every position.
constexpr Bytes broadcast(std::uint8_t byte) {
  Bytes bytes{};
  bytes.fill(byte);
  return bytes;
}

// The S-box constant, in the AES basis and in the encryption basis.
alignas(16) inline constexpr Bytes sboxConstantInAesBasis = broadcast(sboxConstant);
alignas(16) inline constexpr Bytes sboxConstantInTower = broadcast(toTower(sboxConstant));
// The decryption state's constant, phi(5).
alignas(16) inline constexpr Bytes inverseSboxConstantInTower =
    broadcast(toTower(inverseSboxConstant));

// --- Byte orders --------------------------------------------------------------

// A shuffle control: output byte i is input byte order[i]. Byte 4c + r of the
// state is row r of column c (FIPS-197 section 3.4).
using Order = Bytes;

constexpr Order identityOrder() {
  Order order{};
  for (unsigned i = 0; i < 16; ++i) {
    order[i] = static_cast<std::uint8_t>(i);
  }
  return order;
}

// The shuffle that applies `inner`, then `outer`.
constexpr Order compose(const Order& outer, const Order& inner) {
  Order order{};
  for (unsigned i = 0; i < 16; ++i) {
    order[i] = inner[outer[i]];
  }
  return order;
}

constexpr Order power(const Order& order, unsigned exponent) {
  Order result = identityOrder();
  for (unsigned n = 0; n < exponent; ++n) {
    result = compose(order, result);
  }
  return result;
}

// ShiftRows, FIPS-197 section 5.1.2: row r of column c comes from column
// c + r.
inline constexpr Order shiftRows = [] {
  Order order{};
  for (unsigned c = 0; c < 4; ++c) {
    for (unsigned r = 0; r < 4; ++r) {
      order[4 * c + r] = static_cast<std::uint8_t>(4 * ((c + r) % 4) + r);
    }
  }
  return order;
}();
static_assert(power(shiftRows, 4) == identityOrder());

// Row r of each column from row r + 1 of the same column: MixColumns is
// 2 s + 3 R(s) + R^2(s) + R^3(s), InvMixColumns 14 s + 11 R(s) + 13 R^2(s)
// + 9 R^3(s), section 5.1.3 and 5.3.3.
alignas(16) inline constexpr Order columnRotation = [] {
  Order order{};
  for (unsigned c = 0; c < 4; ++c) {
    for (unsigned r = 0; r < 4; ++r) {
      order[4 * c + r] = static_cast<std::uint8_t>(4 * c + (r + 1) % 4);
    }
  }
  return order;
}();

// Before round m the encryption state is in the order ShiftRows^-m and the
// decryption state in ShiftRows^m (which is what the inverse ShiftRows of m
// rounds skipped). That turns R^k after round m's ShiftRows into
// ShiftRows^-m R^k ShiftRows^m (encryption) and ShiftRows^m R^k ShiftRows^-m
// (decryption); the orders repeat with period 4.
constexpr Order encryptionOrder(unsigned m) {
  return power(shiftRows, (4 - m % 4) % 4);
}
constexpr Order decryptionOrder(unsigned m) {
  return power(shiftRows, m % 4);
}

struct RoundShuffles {
  alignas(16) std::array<Order, 4> rotate1;
  alignas(16) std::array<Order, 4> rotate3;
  alignas(16) std::array<Order, 4> toRoundKeyOrder;
};

template <typename OrderOf>
constexpr RoundShuffles roundShuffles(OrderOf orderOf) {
  RoundShuffles shuffles{};
  for (unsigned m = 0; m < 4; ++m) {
    const Order into = orderOf(m);
    const Order back = power(orderOf(m), 3);  // the inverse: order^4 = identity
    shuffles.rotate1[m] = compose(into, compose(columnRotation, back));
    shuffles.rotate3[m] = compose(into, compose(power(columnRotation, 3), back));
    shuffles.toRoundKeyOrder[m] = into;
  }
  return shuffles;
}
inline constexpr RoundShuffles encryptionShuffles = roundShuffles(encryptionOrder);
inline constexpr RoundShuffles decryptionShuffles = roundShuffles(decryptionOrder);

// After the last round both states are in the order ShiftRows^2 (ShiftRows^-10
// and ShiftRows^10 with the last round's ShiftRows or its inverse); ShiftRows^2
// is its own inverse.
alignas(16) inline constexpr Order lastRoundOrder = power(shiftRows, 2);

// Each four bytes reversed: a round key's bytes from the block functions'
// words, most significant byte first, as a little-endian vector unit loads
// them, and back.
constexpr Order byteSwapInWords() {
  Order order{};
  for (unsigned i = 0; i < 16; ++i) {
    order[i] = static_cast<std::uint8_t>((i & ~3U) | (3 - (i & 3U)));
  }
  return order;
}
alignas(16) inline constexpr Order wordByteSwap = byteSwapInWords();
static_assert(compose(wordByteSwap, wordByteSwap) == identityOrder());
static_assert(compose(shiftRows, power(encryptionOrder(9), 3)) == lastRoundOrder);
static_assert(compose(power(shiftRows, 3), power(decryptionOrder(9), 3)) == lastRoundOrder);

// Key expansion, FIPS-197 section 5.2: RotWord of word 3 into every word;
// the S-box constant and rcon go in with one XOR.
alignas(16) inline constexpr Order rotWordOfLastWord = [] {
  Order order{};
  for (unsigned w = 0; w < 4; ++w) {
    for (unsigned i = 0; i < 4; ++i) {
      order[4 * w + i] = static_cast<std::uint8_t>(12 + (i + 1) % 4);
    }
  }
  return order;
}();
inline constexpr std::size_t expansionSteps = roundKeyCount - 1;
alignas(16) inline constexpr std::array<Bytes, expansionSteps> subWordConstants = [] {
  std::array<Bytes, expansionSteps> constants{};
  for (std::size_t step = 0; step < expansionSteps; ++step) {
    constants[step] = broadcast(sboxConstant);
    for (std::size_t w = 0; w < 4; ++w) {
      constants[step][4 * w] ^= static_cast<std::uint8_t>(roundConstant(step));
    }
  }
  return constants;
}();

// --- A scalar model of the nibble pipeline, with exactly these tables ---------

// What both shuffles give for the index bytes that occur (checked below).
constexpr std::uint8_t lookup(const Bytes& table, std::uint8_t index) {
  return index < 16 ? table[index] : 0;
}

// PSHUFB reads bit 7 and the low nibble, TBL the whole byte: they agree on
// 0..15 and 0x80..0x8f.
constexpr bool shufflesAgree(std::uint8_t index) {
  return index < 16 || (index >= infinity && index < infinity + 16);
}

struct ModelInverted {
  std::uint8_t io;
  std::uint8_t jo;
  bool indicesAgree;
};

constexpr ModelInverted modelInvert(std::uint8_t state) {
  const auto a = static_cast<std::uint8_t>(state & 0xfU);
  const auto b = static_cast<std::uint8_t>(state >> 4U);
  const auto j = static_cast<std::uint8_t>(a ^ b);
  const std::uint8_t ak = lookup(alphaOverTable, b);
  const auto p = static_cast<std::uint8_t>(lookup(inverseTable, a) ^ ak);
  const auto q = static_cast<std::uint8_t>(lookup(inverseTable, j) ^ ak);
  const auto io = static_cast<std::uint8_t>(lookup(inverseTable, p) ^ j);
  const auto jo = static_cast<std::uint8_t>(lookup(inverseTable, q) ^ a);
  return {io, jo,
          shufflesAgree(p) && shufflesAgree(q) && shufflesAgree(io) && shufflesAgree(jo) &&
              io != 0 && jo != 0};
}

constexpr std::uint8_t apply(const NibblePair& pair, std::uint8_t low, std::uint8_t high) {
  return static_cast<std::uint8_t>(lookup(pair.first, low) ^ lookup(pair.second, high));
}
constexpr std::uint8_t applyToByte(const NibblePair& pair, std::uint8_t byte) {
  return apply(pair, static_cast<std::uint8_t>(byte & 0xfU), static_cast<std::uint8_t>(byte >> 4U));
}
constexpr std::uint8_t applyToInverse(const NibblePair& pair, std::uint8_t state) {
  const ModelInverted x = modelInvert(state);
  return apply(pair, x.io, x.jo);
}

// A nibble pair of bytes must be linear for the column XORs to commute with it.
constexpr bool isLinear(const NibblePair& pair) {
  for (unsigned x = 0; x < 256; ++x) {
    std::uint8_t sum = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (((x >> bit) & 1U) != 0) {
        sum ^= applyToByte(pair, static_cast<std::uint8_t>(1U << bit));
      }
    }
    if (sum != applyToByte(pair, static_cast<std::uint8_t>(x))) {
      return false;
    }
  }
  return true;
}

constexpr bool encryptionTablesHold() {
  for (unsigned x = 0; x < 256; ++x) {
    const auto s = static_cast<std::uint8_t>(x);
    const std::uint8_t state = applyToByte(encryptionInput, s);
    const auto substituted = static_cast<std::uint8_t>(sboxTable[s] ^ sboxConstant);
    if (state != toTower(s) || !modelInvert(state).indicesAgree ||
        applyToInverse(sboxTimes1, state) != toTower(substituted) ||
        applyToInverse(sboxTimes2, state) != toTower(gmul(2, substituted)) ||
        applyToInverse(sboxLast, state) != substituted) {
      return false;
    }
  }
  return isLinear(encryptionInput);
}
static_assert(encryptionTablesHold(), "encryption tables against sbox");

template <std::uint8_t c>
constexpr bool decryptionMultipleHolds(std::uint8_t s, std::uint8_t state) {
  return applyToInverse(inverseSboxTimes<c>, state) ==
             decryptionBasis(gmul(c, inverseSboxTable[s])) &&
         applyToByte(keyTimes<c>, s) == decryptionBasis(gmul(c, s));
}

constexpr bool decryptionTablesHold() {
  for (unsigned x = 0; x < 256; ++x) {
    const auto s = static_cast<std::uint8_t>(x);
    const auto state =
        static_cast<std::uint8_t>(applyToByte(decryptionInput, s) ^ inverseSboxConstantInTower[0]);
    if (state != toTower(inverseSboxInput(s)) || !modelInvert(state).indicesAgree ||
        !decryptionMultipleHolds<14>(s, state) || !decryptionMultipleHolds<11>(s, state) ||
        !decryptionMultipleHolds<13>(s, state) || !decryptionMultipleHolds<9>(s, state) ||
        applyToInverse(inverseSboxLast, state) != inverseSboxTable[s]) {
      return false;
    }
  }
  return isLinear(decryptionInput) && isLinear(keyTimes<14>) && isLinear(keyTimes<11>) &&
         isLinear(keyTimes<13>) && isLinear(keyTimes<9>);
}
static_assert(decryptionTablesHold(), "decryption tables against inverseSbox");

}  // namespace aes128::vector_permute
