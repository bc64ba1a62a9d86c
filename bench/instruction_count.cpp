// Counts the instructions of the library's calls, run under
//   valgrind --tool=callgrind --collect-atstart=no
// (bench/instructions.sh does this). Each measurement first runs its call
// once uncounted, so that lazy symbol binding and first-touch page faults
// stay out of the figure, then counts one call and dumps the counters under
// the measurement's name. Outside valgrind the client requests do nothing.
//
// The CBC figures are taken for every implementation this CPU supports,
// called directly, and once more through the public functions, which add
// the choice of implementation.
#include <valgrind/callgrind.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/inputs.hpp"
#include "cbc/aes_cbc.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"

namespace {

template <typename Call>
void measure(const std::string& name, Call call) {
  call();
  CALLGRIND_ZERO_STATS;
  CALLGRIND_TOGGLE_COLLECT;
  call();
  CALLGRIND_TOGGLE_COLLECT;
  CALLGRIND_DUMP_STATS_AT(name.c_str());
}

constexpr std::uint32_t largeLength = 64 * 1024;

void measureCbc(const std::string& prefix, aes_cbc::CbcFunction encrypt,
                aes_cbc::CbcFunction decrypt, std::vector<std::uint8_t>& data) {
  measure(prefix + ".cbc_encrypt_16B", [&] { encrypt(benchKey, benchIv, data.data(), 16); });
  measure(prefix + ".cbc_decrypt_16B", [&] { decrypt(benchKey, benchIv, data.data(), 16); });
  measure(prefix + ".cbc_encrypt_64KiB",
          [&] { encrypt(benchKey, benchIv, data.data(), largeLength); });
  measure(prefix + ".cbc_decrypt_64KiB",
          [&] { decrypt(benchKey, benchIv, data.data(), largeLength); });
}

}  // namespace

int main() {
  std::vector<std::uint8_t> data = benchMessage(largeLength);
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};

  measure("empty", [] {});
  measure("table.key_setup_enc", [&] { rijndaelKeySetupEnc(roundKeys, benchKey); });
  measure("table.key_setup_dec", [&] { rijndaelKeySetupDec(roundKeys, benchKey); });
  for (const aes_cbc::Implementation* implementation : aes_cbc::implementations()) {
    if (implementation->supported()) {
      measureCbc(implementation->name, implementation->encrypt, implementation->decrypt, data);
    }
  }
  measureCbc(std::string("public-") + aes_128_cbc_implementation(), aes_128_cbc_encrypt,
             aes_128_cbc_decrypt, data);
  return 0;
}
