// The implementations behind the public functions: what each one gives (its
// CBC functions and block functions) and which are built. Internal to the
// library: choice/choice.cpp chooses one of them, and the tests and
// benchmarks run each one directly. Not installed.
//
// Every implementation follows the public conventions of cbc/aes_cbc.hpp
// exactly (in place, whole blocks only, key and IV only read by the one-shot
// calls, key material wiped), so any one of them may stand behind the public
// functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cbc/aes_cbc.hpp"
#include "common/build_config.hpp"
#include "common/key_schedule.hpp"

namespace aes128 {

using CbcFunction = void (*)(ConstBytes key, ConstBytes iv, std::uint8_t* data,
                             std::uint32_t length) noexcept;
// The update and PKCS#7 calls with a kept key's words, as cbc/aes_cbc.hpp
// documents them.
using CbcUpdateFunction = void (*)(ConstWords roundKeys, OutputBytes iv, std::uint8_t* data,
                                   std::uint32_t length) noexcept;
using Pkcs7EncryptFunction = std::uint32_t (*)(ConstWords roundKeys, OutputBytes iv,
                                               std::uint8_t* data, std::uint32_t length,
                                               std::uint32_t capacity) noexcept;
using Pkcs7DecryptFunction = std::int64_t (*)(ConstWords roundKeys, OutputBytes iv,
                                              std::uint8_t* data, std::uint32_t length) noexcept;
// The messages calls with the words of the schedule of their direction.
using MessagesFunction = void (*)(ConstWords roundKeys,
                                  std::span<const aes_128_cbc_message> messages) noexcept;
using KeySetupFunction = void (*)(OutputWords roundKeys, ConstBytes key) noexcept;
using BlockFunction = void (*)(ConstWords roundKeys, ConstBytes input, OutputBytes output) noexcept;
using BlocksFunction = void (*)(ConstWords roundKeys, const std::uint8_t* input,
                                std::uint8_t* output, std::uint32_t length) noexcept;

struct Implementation {
  // As aes_128_cbc_implementation() reports it.
  const char* name;
  // Whether the CPU running this has the instructions the implementation
  // needs; asks the CPU each time.
  bool (*supported)() noexcept;
  CbcFunction encrypt;
  CbcFunction decrypt;
  CbcUpdateFunction encryptUpdate;
  CbcUpdateFunction decryptUpdate;
  Pkcs7EncryptFunction encryptPkcs7;
  Pkcs7DecryptFunction decryptPkcs7;
  MessagesFunction encryptMessages;
  MessagesFunction decryptMessages;
  // The block functions, as cipher/rijndael.hpp documents them.
  KeySetupFunction keySetupEnc;
  BlockFunction encryptBlock;
  KeySetupFunction keySetupDec;
  BlockFunction decryptBlock;
  // The many-block functions, as cipher/rijndael.hpp documents them.
  BlocksFunction encryptBlocks;
  BlocksFunction decryptBlocks;
  // For the test that looks for what a call left behind: the round keys of
  // `key` as this implementation holds them in memory, as bytes. Returns
  // their count, or 0 if `image` is too small.
  std::size_t (*roundKeyImage)(ConstBytes key, Schedule schedule,
                               std::span<std::uint8_t> image) noexcept;
};

}  // namespace aes128
