// Wall-clock throughput of the block cipher, its key set-ups and CBC mode,
// the latter for every CBC implementation this CPU supports, side by side
// ("aes_128_cbc_encrypt/table/65536"). Byte counts are input bytes: the
// message for CBC, one block for the block functions, the 16 key bytes for
// the key set-ups.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "bench/inputs.hpp"
#include "choice/choice.hpp"
#include "cipher/rijndael.hpp"

namespace {

void setBytes(benchmark::State& state, std::int64_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytesPerIteration);
}

template <auto keySetup>
void keySetupBenchmark(benchmark::State& state) {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  for (auto _ : state) {
    keySetup(roundKeys, benchKey);
    benchmark::DoNotOptimize(roundKeys.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, aes_128_key_bytes);
}

// Each block is transformed in place, so every iteration feeds the previous
// output back in and the calls cannot overlap.
template <auto keySetup, auto transform>
void blockBenchmark(benchmark::State& state) {
  std::array<std::uint32_t, aes_128_round_key_words> roundKeys{};
  keySetup(roundKeys, benchKey);
  auto block = benchBlock;
  for (auto _ : state) {
    transform(roundKeys, block, block);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, aes_block_bytes);
}

// One call per iteration over the whole message, key set-up included, as a
// caller of the CBC functions pays it.
void cbcBenchmark(benchmark::State& state, aes_cbc::CbcFunction cbc) {
  const auto length = static_cast<std::uint32_t>(state.range(0));
  auto message = benchMessage(length);
  for (auto _ : state) {
    cbc(benchKey, benchIv, message.data(), length);
    benchmark::DoNotOptimize(message.data());
    benchmark::ClobberMemory();
  }
  setBytes(state, length);
}

void messageSizes(benchmark::internal::Benchmark* b) {
  for (const std::int64_t size : {16, 1024, 64 * 1024, 1024 * 1024}) {
    b->Arg(size);
  }
}

BENCHMARK(keySetupBenchmark<rijndaelKeySetupEnc>)->Name("rijndaelKeySetupEnc");
BENCHMARK(keySetupBenchmark<rijndaelKeySetupDec>)->Name("rijndaelKeySetupDec");
BENCHMARK(blockBenchmark<rijndaelKeySetupEnc, rijndaelEncrypt>)->Name("rijndaelEncrypt");
BENCHMARK(blockBenchmark<rijndaelKeySetupDec, rijndaelDecrypt>)->Name("rijndaelDecrypt");
}  // namespace

int main(int argc, char** argv) {
  for (const aes_cbc::Implementation* implementation : aes_cbc::implementations()) {
    if (implementation->supported()) {
      const std::string name = implementation->name;
      benchmark::RegisterBenchmark(("aes_128_cbc_encrypt/" + name).c_str(), cbcBenchmark,
                                   implementation->encrypt)
          ->Apply(messageSizes);
      benchmark::RegisterBenchmark(("aes_128_cbc_decrypt/" + name).c_str(), cbcBenchmark,
                                   implementation->decrypt)
          ->Apply(messageSizes);
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
