// Fuzz target: arbitrary bytes opened as an archive. Every entry of one that opens extracts or fails
// cleanly (a failed Extract leaves an empty Blob). The archive is then saved, for half the inputs with
// one entry added, and must reopen holding the same entries with the same bytes; a save that fails
// leaves the file as it was. Either way no temporary is left beside it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"

namespace fs = std::filesystem;

namespace {

fs::path gDir;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "archive_fuzz: %s\n", what);
  std::abort();
}

// Every entry name, and for each name "+" and its bytes, or "-" when it does not extract.
struct Contents {
  std::multiset<std::string> names;
  std::map<std::string, std::string> bytes;
};

Contents Read(tovrel::Archive* archive) {
  Contents contents;
  archive->VisitNames([&](const char* name) {
    tovrel::Blob blob;
    const bool ok = archive->Extract(name, &blob);
    if (!ok && (blob.buffer != nullptr || blob.length != 0)) Fail("a failed Extract left a filled Blob");
    contents.names.insert(name);
    contents.bytes[name] = ok ? "+" + std::string(reinterpret_cast<char*>(blob.buffer), blob.length) : "-";
    archive->FreeBlob(&blob);
  });
  return contents;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  gDir = base / ("tovrel-archive-fuzz-" + std::to_string(getpid()));
  if (!fs::create_directories(gDir)) Fail("cannot make the scratch folder");
  tovrel::CreatePool(tovrel::kDirectHeapMode);  // as the tool does: the pool serves the name tables
  std::atexit([] { fs::remove_all(gDir); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const fs::path path = gDir / "a.ssav";
  std::ofstream(path, std::ios::binary) << input;
  Contents expected;
  bool saved;
  {
    tovrel::Archive archive(path.c_str(), /*create=*/false);
    if (!archive.IsOpen()) return 0;
    expected = Read(&archive);
    if (size % 2 == 1) {
      if (!archive.AddBlob(".fz",
                           tovrel::Blob{const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size)}))
        Fail("AddBlob refused a short name");
      expected.names.insert(".fz");
      expected.bytes[".fz"] = "+" + input;
    }
    saved = archive.Save();
  }
  if (std::distance(fs::directory_iterator(gDir), fs::directory_iterator()) != 1)
    Fail("a temporary was left behind");
  if (!saved) {
    // zlib refuses a level outside -1..9, so only such an archive cannot take a new entry
    const auto level = static_cast<std::int32_t>(tovrel::DecodeFixed32(input.data() + 8));
    if (size % 2 == 0 || (level >= -1 && level <= 9)) Fail("Save failed on a scratch file system");
    if (ReadFile(path) != input) Fail("a failed Save changed the archive file");
    return 0;
  }
  tovrel::Archive reopened(path.c_str(), /*create=*/false);
  if (!reopened.IsOpen()) Fail("a saved archive does not reopen");
  const Contents after = Read(&reopened);
  if (after.names != expected.names) Fail("the saved archive holds other entries");
  // of a name held twice the other copy may be the newest after the save: compare unique names only
  for (const auto& [name, bytes] : after.bytes) {
    if (after.names.count(name) == 1 && bytes != expected.bytes.at(name))
      Fail("an entry changed in the save");
  }
  return 0;
}
