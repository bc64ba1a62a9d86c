// Plain AES-128 from FIPS-197; section numbers refer to that standard. The
// state is the 16 input bytes in their order, so s[r, c] is state[r + 4c]
// (section 3.4).
#include "support/reference_aes.hpp"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace reference {
namespace {

constexpr std::size_t rounds = 10;
using ByteTable = std::array<std::uint8_t, 256>;

// Multiplication by x modulo x^8 + x^4 + x^3 + x + 1, section 4.2.1.
constexpr std::uint8_t xtime(std::uint8_t b) {
  return static_cast<std::uint8_t>((b << 1) ^ ((b & 0x80) != 0 ? 0x1b : 0x00));
}

// Section 4.2: the sum of a times each power of x present in b.
constexpr std::uint8_t multiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  for (; b != 0; b >>= 1, a = xtime(a)) {
    if ((b & 1) != 0) {
      product ^= a;
    }
  }
  return product;
}

// The multiplicative inverse is b^254, since b^255 = 1 for b != 0; it maps
// 0 to 0 as section 5.1.1 asks. b^254 = b^2 * b^4 * ... * b^128, by repeated
// squaring: 254 plain multiplications per byte exceed Clang's constexpr
// evaluation limit.
constexpr std::uint8_t inverse(std::uint8_t b) {
  std::uint8_t power = 1;
  std::uint8_t square = b;
  for (int i = 1; i < 8; ++i) {
    square = multiply(square, square);
    power = multiply(power, square);
  }
  return power;
}

// Affine transformation of section 5.1.1, bit by bit as equation (5.1).
constexpr std::uint8_t affine(std::uint8_t b) {
  constexpr unsigned c = 0x63;
  unsigned result = 0;
  for (unsigned i = 0; i < 8; ++i) {
    const unsigned bit = (b >> i) ^ (b >> ((i + 4) % 8)) ^ (b >> ((i + 5) % 8)) ^
                         (b >> ((i + 6) % 8)) ^ (b >> ((i + 7) % 8)) ^ (c >> i);
    result |= (bit & 1u) << i;
  }
  return static_cast<std::uint8_t>(result);
}

constexpr ByteTable makeSbox() {
  ByteTable box{};
  for (unsigned b = 0; b < 256; ++b) {
    box[b] = affine(inverse(static_cast<std::uint8_t>(b)));
  }
  return box;
}

constexpr ByteTable makeInverse(const ByteTable& box) {
  ByteTable inverted{};
  for (unsigned b = 0; b < 256; ++b) {
    inverted[box[b]] = static_cast<std::uint8_t>(b);
  }
  return inverted;
}

constexpr ByteTable sbox = makeSbox();
constexpr ByteTable invSbox = makeInverse(sbox);
// The worked example of section 5.1.1 and the corners of Figure 7.
static_assert(sbox[0x53] == 0xed && sbox[0x00] == 0x63 && sbox[0xff] == 0x16);
static_assert(invSbox[0xed] == 0x53 && invSbox[0x00] == 0x52);

// Rows of the MixColumns matrices, sections 5.1.3 and 5.3.3: each further
// row is the one above rotated right.
constexpr Word mixRow = {0x02, 0x03, 0x01, 0x01};
constexpr Word invMixRow = {0x0e, 0x0b, 0x0d, 0x09};

Word mixColumn(const Word& column, const Word& row) {
  Word mixed{};
  for (std::size_t r = 0; r < 4; ++r) {
    for (std::size_t k = 0; k < 4; ++k) {
      mixed[r] ^= multiply(row[(k + 4 - r) % 4], column[k]);
    }
  }
  return mixed;
}

void mixColumns(Block& state, const Word& row) {
  for (std::size_t c = 0; c < 4; ++c) {
    const Word column = {state[4 * c], state[4 * c + 1], state[4 * c + 2], state[4 * c + 3]};
    const Word mixed = mixColumn(column, row);
    std::copy(mixed.begin(), mixed.end(), state.begin() + static_cast<std::ptrdiff_t>(4 * c));
  }
}

void substitute(Block& state, const ByteTable& box) {
  for (std::uint8_t& b : state) {
    b = box[b];
  }
}

// Row r moves r places left (section 5.1.2), or right for the inverse (5.3.1).
void shiftRows(Block& state, bool inverseDirection) {
  const Block before = state;
  for (std::size_t r = 1; r < 4; ++r) {
    for (std::size_t c = 0; c < 4; ++c) {
      const std::size_t shifted = (c + r) % 4;
      if (inverseDirection) {
        state[r + 4 * shifted] = before[r + 4 * c];
      } else {
        state[r + 4 * c] = before[r + 4 * shifted];
      }
    }
  }
}

// Section 5.1.4: round key word w[4 round + c] is added to column c.
void addRoundKey(Block& state, const KeySchedule& w, std::size_t round) {
  for (std::size_t c = 0; c < 4; ++c) {
    for (std::size_t r = 0; r < 4; ++r) {
      state[r + 4 * c] ^= w[4 * round + c][r];
    }
  }
}

Block cipher(const KeySchedule& w, std::span<const std::uint8_t, 16> input) {
  Block state;
  std::copy(input.begin(), input.end(), state.begin());
  addRoundKey(state, w, 0);
  for (std::size_t round = 1; round <= rounds; ++round) {
    substitute(state, sbox);
    shiftRows(state, false);
    if (round != rounds) {
      mixColumns(state, mixRow);
    }
    addRoundKey(state, w, round);
  }
  return state;
}

Block invCipher(const KeySchedule& w, std::span<const std::uint8_t, 16> input) {
  Block state;
  std::copy(input.begin(), input.end(), state.begin());
  addRoundKey(state, w, rounds);
  for (std::size_t round = rounds - 1;; --round) {
    shiftRows(state, true);
    substitute(state, invSbox);
    addRoundKey(state, w, round);
    if (round == 0) {
      return state;
    }
    mixColumns(state, invMixRow);
  }
}

// Section 5.3.5: InvSubBytes, InvShiftRows, InvMixColumns and AddRoundKey
// in a round, as the cipher's steps, here with dw already in order of use.
Block eqInvCipher(const KeySchedule& dwInOrderOfUse, std::span<const std::uint8_t, 16> input) {
  Block state;
  std::copy(input.begin(), input.end(), state.begin());
  addRoundKey(state, dwInOrderOfUse, 0);
  for (std::size_t round = 1; round <= rounds; ++round) {
    substitute(state, invSbox);
    shiftRows(state, true);
    if (round != rounds) {
      mixColumns(state, invMixRow);
    }
    addRoundKey(state, dwInOrderOfUse, round);
  }
  return state;
}

KeySchedule scheduleOfWords(std::span<const std::uint32_t, 44> words) {
  KeySchedule w{};
  for (std::size_t i = 0; i < w.size(); ++i) {
    for (std::size_t r = 0; r < 4; ++r) {
      w[i][r] = static_cast<std::uint8_t>(words[i] >> (24 - 8 * r));
    }
  }
  return w;
}

void requireWholeBlocks(std::span<const std::uint8_t> data) {
  if (data.size() % 16 != 0) {
    throw std::invalid_argument("reference CBC needs whole 16-byte blocks");
  }
}

}  // namespace

KeySchedule expandKey(std::span<const std::uint8_t, 16> key) {
  KeySchedule w{};
  for (std::size_t i = 0; i < 4; ++i) {
    w[i] = {key[4 * i], key[4 * i + 1], key[4 * i + 2], key[4 * i + 3]};
  }
  std::uint8_t rcon = 0x01;  // x^(i/4 - 1), section 5.2
  for (std::size_t i = 4; i < w.size(); ++i) {
    Word temp = w[i - 1];
    if (i % 4 == 0) {
      temp = {static_cast<std::uint8_t>(sbox[temp[1]] ^ rcon), sbox[temp[2]], sbox[temp[3]],
              sbox[temp[0]]};  // SubWord(RotWord(temp)) xor Rcon[i/4]
      rcon = xtime(rcon);
    }
    for (std::size_t r = 0; r < 4; ++r) {
      w[i][r] = static_cast<std::uint8_t>(w[i - 4][r] ^ temp[r]);
    }
  }
  return w;
}

Block encryptBlock(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> input) {
  return cipher(expandKey(key), input);
}

Block decryptBlock(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> input) {
  return invCipher(expandKey(key), input);
}

Block encryptWithWords(std::span<const std::uint32_t, 44> words,
                       std::span<const std::uint8_t, 16> input) {
  return cipher(scheduleOfWords(words), input);
}

Block decryptWithWords(std::span<const std::uint32_t, 44> words,
                       std::span<const std::uint8_t, 16> input) {
  return eqInvCipher(scheduleOfWords(words), input);
}

Word invMixColumn(const Word& column) {
  return mixColumn(column, invMixRow);
}

void cbcEncrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
                std::span<std::uint8_t> data) {
  requireWholeBlocks(data);
  const KeySchedule w = expandKey(key);
  Block chain;
  std::copy(iv.begin(), iv.end(), chain.begin());
  for (std::size_t offset = 0; offset < data.size(); offset += 16) {
    const std::span<std::uint8_t, 16> block(data.data() + offset, 16);
    for (std::size_t j = 0; j < 16; ++j) {
      chain[j] ^= block[j];
    }
    chain = cipher(w, chain);
    std::copy(chain.begin(), chain.end(), block.begin());
  }
}

void cbcDecrypt(std::span<const std::uint8_t, 16> key, std::span<const std::uint8_t, 16> iv,
                std::span<std::uint8_t> data) {
  requireWholeBlocks(data);
  const KeySchedule w = expandKey(key);
  Block previousCiphertext;
  std::copy(iv.begin(), iv.end(), previousCiphertext.begin());
  for (std::size_t offset = 0; offset < data.size(); offset += 16) {
    const std::span<std::uint8_t, 16> block(data.data() + offset, 16);
    Block ciphertext;
    std::copy(block.begin(), block.end(), ciphertext.begin());
    const Block deciphered = invCipher(w, ciphertext);
    for (std::size_t j = 0; j < 16; ++j) {
      block[j] = static_cast<std::uint8_t>(deciphered[j] ^ previousCiphertext[j]);
    }
    previousCiphertext = ciphertext;
  }
}

}  // namespace reference
