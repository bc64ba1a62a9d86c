// The implementation entry of a block core: its name, its test of the CPU,
// and the entry points of the CBC mode, its PKCS#7 padding and the block
// functions compiled for it, from a core that the concept BlockCore
// (modes/block_core.hpp) admits. Included after AES128_CORE_ENTRY and
// AES128_CORE_INLINE are defined (modes/cbc_mode.hpp).
#pragma once

#include "modes/block_core.hpp"
#include "modes/block_functions.hpp"
#include "modes/cbc_messages.hpp"
#include "modes/cbc_mode.hpp"
#include "modes/implementation.hpp"
#include "modes/many_blocks.hpp"
#include "modes/pkcs7.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// The block functions are those of the core that takes single blocks.
template <BlockCore Core>
requires BlockFunctionsCore<SingleBlockCore<Core>>
constexpr Implementation implementationOf(const char* name, bool (*supported)() noexcept) noexcept {
  using Mode = CbcMode<Core>;
  using Block = BlockFunctions<SingleBlockCore<Core>>;
  return {name,
          supported,
          Mode::encryptEntry,
          Mode::decryptEntry,
          Mode::encryptUpdateEntry,
          Mode::decryptUpdateEntry,
          entryOf<Pkcs7<Mode>::encrypt>,
          entryOf<Pkcs7<Mode>::decrypt>,
          entryOf<CbcMessages<Core>::encrypt>,
          entryOf<CbcMessages<Core>::decrypt>,
          Block::template keySetup<Schedule::encryption>,
          Block::encrypt,
          Block::template keySetup<Schedule::decryption>,
          Block::decrypt,
          ManyBlocks<Core>::template entry<Schedule::encryption>,
          ManyBlocks<Core>::template entry<Schedule::decryption>,
          Mode::roundKeyImage};
}

}  // namespace
}  // namespace aes128
