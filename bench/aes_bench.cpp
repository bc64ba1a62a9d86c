// Wall-clock throughput of the block functions, their key set-ups and CBC
// mode, one-shot and with a kept key (updates, PKCS#7, messages), for every
// implementation this CPU supports and for the public functions, side by
// side ("aes_128_cbc_encrypt/table/65536", "rijndaelEncrypt/aes-ni/independent",
// "rijndaelEncryptBlocks/aes-ni/65536"), and the plain VAES loop that the
// many-block functions are measured against. Byte counts are input bytes: the
// message for CBC, the buffer for the block functions, the 16 key bytes for
// the key set-ups.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"
#include "inputs.hpp"
#include "kept_key.hpp"
#include "plain_vaes_loop.hpp"

namespace {

void setBytes(benchmark::State& state, std::int64_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytesPerIteration);
}

void keySetupBenchmark(benchmark::State& state, aes128::KeySetupFunction keySetup) {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  for (auto _ : state) {
    keySetup(roundKeys, benchKey);
    benchmark::DoNotOptimize(roundKeys.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, aes_128_key_bytes);
}

constexpr std::uint32_t blockBufferBytes = 4096;

// One call a block over a 4 KiB buffer, as a mode built on the block
// functions makes them: the blocks independent (ECB, CTR), so that calls can
// overlap, or each block the one before transformed again, so that every
// call waits for the last.
void blockBenchmark(benchmark::State& state, aes128::KeySetupFunction keySetup,
                    aes128::BlockFunction transform, bool chained) {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  keySetup(roundKeys, benchKey);
  auto buffer = benchMessage(blockBufferBytes);
  for (auto _ : state) {
    if (chained) {
      const std::span<std::uint8_t, aes_block_bytes> block(buffer.data(), aes_block_bytes);
      for (std::uint32_t b = 0; b < blockBufferBytes / aes_block_bytes; ++b) {
        transform(roundKeys, block, block);
      }
    } else {
      for (std::uint32_t offset = 0; offset < blockBufferBytes; offset += aes_block_bytes) {
        const std::span<std::uint8_t, aes_block_bytes> block(buffer.data() + offset,
                                                             aes_block_bytes);
        transform(roundKeys, block, block);
      }
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, blockBufferBytes);
}

// One call per iteration over the whole message, key set-up included, as a
// caller of the CBC functions pays it.
void cbcBenchmark(benchmark::State& state, aes128::CbcFunction cbc) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  auto message = benchMessage(length);
  for (auto _ : state) {
    cbc(benchKey, benchIv, message.data(), length);
    benchmark::DoNotOptimize(message.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, length);
}

// The many-block functions over one buffer in place, or (with no function)
// the plain VAES loop that is their yardstick.
void blocksBenchmark(benchmark::State& state, aes128::KeySetupFunction keySetup,
                     aes128::BlocksFunction transform) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  keySetup(roundKeys, benchKey);
  auto buffer = benchMessage(length);
  for (auto _ : state) {
#if defined(__x86_64__)
    if (transform == nullptr) {
      plainVaesLoop(roundKeys.data(), buffer.data(), length);
    } else
#endif
    {
      transform(roundKeys, buffer.data(), buffer.data(), length);
    }
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, length);
}

void messageSizes(benchmark::internal::Benchmark* b) {
  for (const std::int64_t size : {16, 1024, 64 * 1024, 1024 * 1024}) {
    b->Arg(size);
  }
}

// The same with a kept key: the key set-up is the caller's, once. The
// update continues one message from call to call; the PKCS#7 calls take
// the message but its last byte, padded to the whole, and decrypt it back
// (the padding then found right, as the check costs the same either way).
template <typename KeptKey>
void updateBenchmark(benchmark::State& state, const KeptKey* keptKey, bool encrypt) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  auto message = benchMessage(length);
  std::array<std::uint8_t, aes_block_bytes> iv = benchIv;
  for (auto _ : state) {
    if (encrypt) {
      keptKey->encryptUpdate(iv, message.data(), length);
    } else {
      keptKey->decryptUpdate(iv, message.data(), length);
    }
    benchmark::DoNotOptimize(message.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, length);
}

template <typename KeptKey>
void pkcs7Benchmark(benchmark::State& state, const KeptKey* keptKey) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  auto message = benchMessage(length);
  for (auto _ : state) {
    std::array<std::uint8_t, aes_block_bytes> iv = benchIv;
    keptKey->encryptPkcs7(iv, message.data(), length - 1, length);
    iv = benchIv;
    benchmark::DoNotOptimize(keptKey->decryptPkcs7(iv, message.data(), length));
    benchmark::ClobberMemory();
  }
  setBytes(state, length);
}

// The kept-key calls of one implementation, or the public ones, under `name`.
// `count` messages of `length` bytes each, one messages call an iteration.
// Bytes: all the messages' bytes.
template <typename KeptKey>
void messagesBenchmark(benchmark::State& state, const KeptKey* keptKey, bool encrypt) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto length = static_cast<std::uint32_t>(state.range(1));
  auto data = benchMessage(count * length);
  std::vector<std::array<std::uint8_t, aes_block_bytes>> ivs(count, benchIv);
  std::vector<aes_128_cbc_message> messages(count);
  for (std::size_t m = 0; m < count; ++m) {
    messages[m] = {ivs[m].data(), data.data() + m * length, length};
  }
  for (auto _ : state) {
    if (encrypt) {
      keptKey->encryptMessages(messages);
    } else {
      keptKey->decryptMessages(messages);
    }
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, static_cast<std::int64_t>(count * length));
}

template <typename KeptKey>
void registerKeptKey(const std::string& name, const KeptKey* keptKey) {
  benchmark::RegisterBenchmark(("aes_128_cbc_encrypt_update/" + name).c_str(),
                               updateBenchmark<KeptKey>, keptKey, true)
      ->Apply(messageSizes);
  benchmark::RegisterBenchmark(("aes_128_cbc_decrypt_update/" + name).c_str(),
                               updateBenchmark<KeptKey>, keptKey, false)
      ->Apply(messageSizes);
  for (const bool encrypt : {true, false}) {
    benchmark::RegisterBenchmark(
        ((encrypt ? "aes_128_cbc_encrypt_messages/" : "aes_128_cbc_decrypt_messages/") + name)
            .c_str(),
        messagesBenchmark<KeptKey>, keptKey, encrypt)
        ->ArgNames({"messages", "bytes"})
        ->Args({1, 4096})
        ->Args({8, 4096});
  }
  benchmark::RegisterBenchmark(("aes_128_cbc_pkcs7_round_trip/" + name).c_str(),
                               pkcs7Benchmark<KeptKey>, keptKey)
      ->Apply(messageSizes);
}

// The block functions of one implementation, or the public ones, under
// `name`.
void registerBlockFunctions(const std::string& name, aes128::KeySetupFunction keySetupEnc,
                            aes128::BlockFunction encrypt, aes128::KeySetupFunction keySetupDec,
                            aes128::BlockFunction decrypt, aes128::BlocksFunction encryptBlocks,
                            aes128::BlocksFunction decryptBlocks) {
  benchmark::RegisterBenchmark(("rijndaelKeySetupEnc/" + name).c_str(), keySetupBenchmark,
                               keySetupEnc);
  benchmark::RegisterBenchmark(("rijndaelKeySetupDec/" + name).c_str(), keySetupBenchmark,
                               keySetupDec);
  benchmark::RegisterBenchmark(("rijndaelEncryptBlocks/" + name).c_str(), blocksBenchmark,
                               keySetupEnc, encryptBlocks)
      ->Arg(blockBufferBytes)
      ->Arg(64 * 1024);
  benchmark::RegisterBenchmark(("rijndaelDecryptBlocks/" + name).c_str(), blocksBenchmark,
                               keySetupDec, decryptBlocks)
      ->Arg(blockBufferBytes)
      ->Arg(64 * 1024);
  for (const bool chained : {false, true}) {
    const std::string kind = chained ? "/chained" : "/independent";
    benchmark::RegisterBenchmark(("rijndaelEncrypt/" + name + kind).c_str(), blockBenchmark,
                                 keySetupEnc, encrypt, chained);
    benchmark::RegisterBenchmark(("rijndaelDecrypt/" + name + kind).c_str(), blockBenchmark,
                                 keySetupDec, decrypt, chained);
  }
}

}  // namespace

int main(int argc, char** argv) {
  registerBlockFunctions("public", rijndaelKeySetupEnc, rijndaelEncrypt, rijndaelKeySetupDec,
                         rijndaelDecrypt, rijndaelEncryptBlocks, rijndaelDecryptBlocks);
#if defined(__x86_64__)
  if (cpuHasVaesAvx2()) {
    benchmark::RegisterBenchmark("plainVaesLoop", blocksBenchmark, rijndaelKeySetupEnc, nullptr)
        ->Arg(64 * 1024);
  }
#endif
  const PublicKeptKey publicKeptKey;
  registerKeptKey("public", &publicKeptKey);
  std::vector<std::unique_ptr<ImplementationKeptKey>> keptKeys;
  for (const aes128::Implementation* implementation : aes128::implementations()) {
    if (implementation->supported()) {
      const std::string name = implementation->name;
      registerBlockFunctions(name, implementation->keySetupEnc, implementation->encryptBlock,
                             implementation->keySetupDec, implementation->decryptBlock,
                             implementation->encryptBlocks, implementation->decryptBlocks);
      benchmark::RegisterBenchmark(("aes_128_cbc_encrypt/" + name).c_str(), cbcBenchmark,
                                   implementation->encrypt)
          ->Apply(messageSizes);
      benchmark::RegisterBenchmark(("aes_128_cbc_decrypt/" + name).c_str(), cbcBenchmark,
                                   implementation->decrypt)
          ->Apply(messageSizes);
      keptKeys.push_back(std::make_unique<ImplementationKeptKey>(*implementation));
      registerKeptKey(name, keptKeys.back().get());
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
