// Fuzz target: the tool's own unpack run, in this process, unpacks an arbitrary archive. Each input
// becomes <root>/w/save/s.ssav beside two older files of the save; the run has <root>/w/cwd as its
// working directory. The archive library predicts the run: the files written (at most three, in
// table order, never a name with a separator nor the archive itself) and the exit code. Afterwards
// <root>/w must hold exactly that: every file whole, the archive unchanged, nothing else anywhere.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "app/plan.h"
#include "app/runner.h"
#include "archive/archive.h"
#include "core/block_pool.h"
#include "core/scrambler.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, std::string>;  // path under <root>/w: its bytes, or "<dir>"
fs::path gRoot;
const Files kOlderFiles = {{"save/s.sav", "the older save\n"}, {"save/s.jpg", std::string(3000, 'J')}};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The exit code the tool should end with; fills `files` with what <root>/w should then hold.
int Predict(const fs::path& archivePath, Files* files) {
  struct Pool {  // for this archive alone: the run makes its own
    Pool() { tovrel::CreatePool(tovrel::kDirectHeapMode); }
    ~Pool() { tovrel::DestroyPool(); }
  } pool;
  tovrel::Archive archive(archivePath.c_str(), /*create=*/false);
  if (!archive.IsOpen()) return 3;
  int exitCode = 0, attempts = 0;
  archive.VisitEntries([&](const char* name, const tovrel::ArchiveEntry&) {
    const std::string file = std::string("s") + name;
    tovrel::Blob blob;
    if (attempts == 3) return;  // past the third file only a note
    const bool extracted = !std::strpbrk(name, "/\\:") && file != "s.ssav" && archive.Extract(name, &blob);
    attempts += extracted;
    if (extracted && file == "s.sav")
      tovrel::ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), tovrel::kScrambleKey);
    if (extracted && file.size() <= 255)  // a longer name no file system here can hold
      (*files)["save/" + file] = std::string(reinterpret_cast<char*>(blob.buffer), blob.length);
    else
      exitCode = 3;
    archive.FreeBlob(&blob);
  });
  return exitCode;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  gRoot = base / ("tovrel-unpack-fuzz-" + std::to_string(getpid()));
  std::atexit([] { fs::remove_all(gRoot); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const fs::path work = gRoot / "w", archivePath = work / "save/s.ssav";
  fs::remove_all(work);
  for (const char* dir : {"save", "cwd"}) fs::create_directories(work / dir);
  for (const auto& [name, bytes] : kOlderFiles) std::ofstream(work / name, std::ios::binary) << bytes;
  std::ofstream(archivePath, std::ios::binary) << input;
  Files expected = kOlderFiles;
  expected.insert({{"cwd", "<dir>"}, {"save", "<dir>"}, {"save/s.ssav", input}});
  const int exitCode = Predict(archivePath, &expected);

  fs::current_path(work / "cwd");
  const int code = tovrel::RunOne({tovrel::RunMode::kUnpack, tovrel::Resolve(archivePath.string()), std::nullopt});
  (void)std::fflush(stdout);
  Files found;
  for (const auto& entry : fs::recursive_directory_iterator(work))
    found[entry.path().lexically_relative(work).string()] = entry.is_directory()      ? "<dir>"
                                                            : entry.is_regular_file() ? ReadFile(entry.path())
                                                                                      : "<other>";
  if (code != exitCode || found != expected) {
    std::fprintf(stderr, "unpack_fuzz: exit code %d (expected %d), files%s as predicted\n", code, exitCode,
                 found == expected ? "" : " not");
    std::abort();
  }
  return 0;
}
