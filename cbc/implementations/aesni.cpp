// CBC with the AES instructions of x86 and x86-64 (AES-NI): serial
// encryption, decryption eight blocks at a time, both from
// cbc/shared/aesni_core.hpp, which says what each instruction computes. No
// lookup depends on key or data, and no branch on anything but the length.
//
// Only the functions of this file and of that header are compiled for
// AES-NI, each through its own target attribute, and all of them have
// internal linkage: no inline function of a header is ever compiled with
// these instructions and then shared with code that runs on a CPU without
// them.
#include "cbc/implementations.hpp"

#if AES_CBC_X86

#include <cstdint>
#include <span>

#include "cbc/shared/aesni_core.hpp"
#include "cbc/shared/key_schedule.hpp"
#include "cbc/shared/secure_wipe.hpp"
#include "cbc/shared/x86_cpu.hpp"

namespace aes_cbc {
namespace {

AES_NI_ENTRY void decrypt(std::span<const std::uint8_t, 16> key,
                          std::span<const std::uint8_t, 16> iv, std::uint8_t* data,
                          std::uint32_t length) noexcept {
  aesni::RoundKeys roundKeys;
  aesni::expandKey<Schedule::decryption>(key.data(), roundKeys);
  aesni::decryptBlocks(roundKeys, aesni::load(iv.data()), data, length / aesni::blockBytes);
  // The chain holds only ciphertext, which the caller had anyway.
  secure_wipe_vectors(roundKeys);
}

bool cpuHasAesNi() noexcept {
  const x86::CpuidRegisters leaf1 = x86::cpuid(1);
  return (leaf1.ecx & x86::leaf1EcxAes) != 0 && (leaf1.edx & x86::leaf1EdxSse2) != 0;
}

}  // namespace

const Implementation aesNiImplementation{"aes-ni", cpuHasAesNi, aesni::encrypt, decrypt};

}  // namespace aes_cbc

#endif
