// Entry of the microbenchmarks: the pool that name tables draw on, and a scratch working directory for
// the files that archives write (Save puts its temporary file in the working directory).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/block_pool.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  std::string scratch = (ec ? std::filesystem::path("/tmp") : base).string() + "/tovrel-bench-XXXXXX";
  if (mkdtemp(&scratch[0]) == nullptr || chdir(scratch.c_str()) != 0) {
    std::perror("tovrel_bench: cannot make a scratch directory");
    return 1;
  }
  tovrel::CreatePool(tovrel::kDirectHeapMode);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  tovrel::DestroyPool();
  if (chdir("/") == 0) std::filesystem::remove_all(scratch, ec);
  return 0;
}
