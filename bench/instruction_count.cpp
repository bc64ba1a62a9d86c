// Counts the instructions of the library's calls, run under
//   valgrind --tool=callgrind --collect-atstart=no
// (bench/instructions.sh does this). Each measurement first runs its call
// once uncounted, so that lazy symbol binding and first-touch page faults
// stay out of the figure, then counts one call and dumps the counters under
// the measurement's name. Outside valgrind the client requests do nothing.
#include <valgrind/callgrind.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cbc/aes_cbc.hpp"
#include "cipher/rijndael.hpp"

namespace {

template <typename Call>
void measure(const char* name, Call call) {
  call();
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
  call();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(name);
}

}  // namespace

int main() {
  // FIPS-197 Appendix A.1 key; the counts do not depend on the bytes.
  constexpr std::array<std::uint8_t, 16> key{0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                             0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
  constexpr std::array<std::uint8_t, 16> iv{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                            0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
  constexpr std::uint32_t largeLength = 64 * 1024;
  std::vector<std::uint8_t> data(largeLength);
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<std::uint8_t>(i * 131 + 7);
  }
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};

  measure("empty", [] {});
  measure("key_setup_enc", [&] { rijndaelKeySetupEnc(roundKeys, key); });
  measure("key_setup_dec", [&] { rijndaelKeySetupDec(roundKeys, key); });
  measure("cbc_encrypt_16B", [&] { aes_128_cbc_encrypt(key, iv, data.data(), 16); });
  measure("cbc_decrypt_16B", [&] { aes_128_cbc_decrypt(key, iv, data.data(), 16); });
  measure("cbc_encrypt_64KiB", [&] { aes_128_cbc_encrypt(key, iv, data.data(), largeLength); });
  measure("cbc_decrypt_64KiB", [&] { aes_128_cbc_decrypt(key, iv, data.data(), largeLength); });
  return 0;
}
