// CBC over the table-driven block cipher (cipher/table_cipher.hpp): the
// portable implementation, which runs on every CPU, and the only one of the
// table-only library. Its lookups are indexed by key and data.
#include "cbc/implementations.hpp"

#include <cstddef>
#include <cstdint>

#include "cipher/table_cipher.hpp"

// NOLINTBEGIN(cppcoreguidelines-macro-usage): plain C++, for every CPU
#define AES_CBC_CORE_ENTRY
#define AES_CBC_CORE_INLINE inline
// NOLINTEND(cppcoreguidelines-macro-usage)

#include "cbc/shared/block_core.hpp"
#include "cbc/shared/cbc_mode.hpp"

namespace aes_cbc {
namespace {

// A block is four big-endian words, which the compilers keep in registers.
struct TableCore {
  template <Schedule>
  using RoundKeys = std::uint32_t[4 * roundKeyCount];
  using Block = table_cipher::State;
  using Lane = Block;
  static constexpr std::size_t blocksPerLane = 1;
  static constexpr bool lanesInRegisters = true;
  static constexpr std::size_t lanes = 1;
  static constexpr bool unrollEncryption = false;
  using Scratch = NoScratch;

  static Block load(const std::uint8_t* bytes) { return table_cipher::loadState(bytes); }
  static void store(std::uint8_t* bytes, const Block& block) {
    table_cipher::storeState(bytes, block);
  }
  static Block bitwiseXor(const Block& a, const Block& b) {
    return {a[0] ^ b[0], a[1] ^ b[1], a[2] ^ b[2], a[3] ^ b[3]};
  }

  template <Schedule schedule>
  static void expandKey(const std::uint8_t* key, RoundKeys<schedule>& roundKeys) {
    if constexpr (schedule == Schedule::encryption) {
      table_cipher::keySetupEnc(roundKeys, key);
    } else {
      table_cipher::keySetupDec(roundKeys, key);
    }
  }

  static Block encrypt(const RoundKeys<Schedule::encryption>& roundKeys, const Block& block) {
    return table_cipher::cipherState<table_cipher::forward>(readAgain(roundKeys), block);
  }
  template <std::size_t n>
  static void decrypt(const RoundKeys<Schedule::decryption>& roundKeys, Block (&state)[n],
                      NoScratch& /*scratch*/) {
    for (Block& lane : state) {
      lane = table_cipher::cipherState<table_cipher::inverse>(readAgain(roundKeys), lane);
    }
  }
};

}  // namespace

const Implementation tableImplementation = cbcImplementation<TableCore>("table", anyCpu);

}  // namespace aes_cbc
