// The implementation entry of a block core: its name, its test of the CPU,
// and the entry points of the CBC mode and of the block functions compiled
// for it. Included after AES128_CORE_ENTRY and AES128_CORE_INLINE are
// defined (modes/cbc_mode.hpp).
#pragma once

#include "modes/block_functions.hpp"
#include "modes/cbc_mode.hpp"
#include "modes/implementation.hpp"

namespace aes128 {
// Internal linkage (common/build_config.hpp).
namespace {  // NOLINT(cert-dcl59-cpp)

// SingleBlockCore does the block functions: Core, unless Core decrypts
// several blocks to a register and another core of the file does single
// blocks better.
template <BlockCore Core, BlockFunctionsCore SingleBlockCore = Core>
constexpr Implementation implementationOf(const char* name, bool (*supported)() noexcept) noexcept {
  using Block = BlockFunctions<SingleBlockCore>;
  return {name,
          supported,
          CbcMode<Core>::encryptEntry,
          CbcMode<Core>::decryptEntry,
          Block::template keySetup<Schedule::encryption>,
          Block::encrypt,
          Block::template keySetup<Schedule::decryption>,
          Block::decrypt,
          CbcMode<Core>::roundKeyImage};
}

}  // namespace
}  // namespace aes128
