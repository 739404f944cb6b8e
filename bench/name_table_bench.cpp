// The cost of naming an entry: HashName alone, and NameTable::Find on a table shaped like a save's.
#include <benchmark/benchmark.h>

#include <string>

#include "core/name_table.h"

namespace tovrel {
namespace {

constexpr std::uint32_t kBuckets = 131;

void BM_HashName(benchmark::State& state) {
  const std::string name = state.range(0) == 0 ? ".sav" : std::string(267, 'x');
  for (auto _ : state) {
    benchmark::DoNotOptimize(HashName(name.c_str()));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(name.size()));
}

// A save's entries, plus enough others that some buckets hold chains
void BM_NameTableFind(benchmark::State& state) {
  NameTable table(kBuckets);
  const char* const kNames[] = {".sav", ".jpg", ".txt", ".png", ".bak", ".ini", ".dat", ".log"};
  for (const char* name : kNames) table.Insert(name, nullptr);
  for (int i = 0; i < 400; ++i) table.Insert(("." + std::to_string(i)).c_str(), nullptr);
  const char* wanted = state.range(0) == 0 ? ".sav" : ".absent";
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Find(wanted));
  }
}

BENCHMARK(BM_HashName)->ArgName("long")->Arg(0)->Arg(1);
BENCHMARK(BM_NameTableFind)->ArgName("miss")->Arg(0)->Arg(1);

}  // namespace
}  // namespace tovrel
