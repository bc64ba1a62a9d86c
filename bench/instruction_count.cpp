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

#include "bench/inputs.hpp"
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
  constexpr std::uint32_t largeLength = 64 * 1024;
  std::vector<std::uint8_t> data = benchMessage(largeLength);
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};

  measure("empty", [] {});
  measure("key_setup_enc", [&] { rijndaelKeySetupEnc(roundKeys, benchKey); });
  measure("key_setup_dec", [&] { rijndaelKeySetupDec(roundKeys, benchKey); });
  measure("cbc_encrypt_16B", [&] { aes_128_cbc_encrypt(benchKey, benchIv, data.data(), 16); });
  measure("cbc_decrypt_16B", [&] { aes_128_cbc_decrypt(benchKey, benchIv, data.data(), 16); });
  measure("cbc_encrypt_64KiB",
          [&] { aes_128_cbc_encrypt(benchKey, benchIv, data.data(), largeLength); });
  measure("cbc_decrypt_64KiB",
          [&] { aes_128_cbc_decrypt(benchKey, benchIv, data.data(), largeLength); });
  return 0;
}
