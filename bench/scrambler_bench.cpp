// Throughput of ScrambleSaveData against the straightforward byte loop it must never lose to.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "core/scrambler.h"
#include "paired.h"
#include "save_data.h"

namespace tovrel {
namespace {

// The transform written plainly, one byte after another: the yardstick, not the product.
[[gnu::noinline]] void StraightScramble(unsigned char* data, std::uint32_t length, std::uint32_t key) {
  std::uint32_t inWord = key >> 16;
  std::uint32_t outWord = key & 0xFFFF;
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint32_t product = inWord * outWord;
    const std::uint32_t mask = (((product & 0xFFFF) - 1) & 0xFFFF) ^ (product >> 16);
    const unsigned char clear = data[i];
    const auto scrambled = static_cast<unsigned char>(clear ^ (mask & 0xFF));
    data[i] = scrambled;
    inWord = (mask & 0xFF00) | clear;
    outWord = (mask & 0xFF00) | scrambled;
  }
}

unsigned char* Bytes(std::string* s) { return reinterpret_cast<unsigned char*>(&(*s)[0]); }

void BM_ScrambleSaveData(benchmark::State& state) {
  std::string data = bench::StructuredSaveBytes(static_cast<std::size_t>(state.range(0)), 1);
  const auto length = static_cast<std::uint32_t>(data.size());
  for (auto _ : state) {
    ScrambleSaveData(Bytes(&data), length, kScrambleKey);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_StraightScrambleLoop(benchmark::State& state) {
  std::string data = bench::StructuredSaveBytes(static_cast<std::size_t>(state.range(0)), 1);
  const auto length = static_cast<std::uint32_t>(data.size());
  for (auto _ : state) {
    StraightScramble(Bytes(&data), length, kScrambleKey);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// ratio < 1: ScrambleSaveData is faster than the straightforward loop
void BM_ScrambleSaveDataVsStraightLoop(benchmark::State& state) {
  std::string data = bench::StructuredSaveBytes(static_cast<std::size_t>(state.range(0)), 1);
  const auto length = static_cast<std::uint32_t>(data.size());
  bench::RunPaired(
      state, [] {}, [&] { ScrambleSaveData(Bytes(&data), length, kScrambleKey); },
      [&] { StraightScramble(Bytes(&data), length, kScrambleKey); });
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_ScrambleSaveData)->Arg(4 << 10)->Arg(2 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StraightScrambleLoop)->Arg(4 << 10)->Arg(2 << 20)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrambleSaveDataVsStraightLoop)->Arg(2 << 20)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tovrel
