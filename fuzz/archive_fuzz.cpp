// Fuzz target: arbitrary bytes opened as an archive. Every entry of one that opens extracts whole or
// fails leaving an empty Blob, and the stream check without a buffer agrees. The archive is then saved, for half the inputs with one entry added, and
// must reopen holding the same entries with the same bytes; a save that fails leaves the file as it was.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

using Contents = std::map<std::string, std::string>;  // name: "+" and the bytes, or "-" when unreadable
fs::path gDir;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "archive_fuzz: %s\n", what);
  std::abort();
}

// Either copy of a name held twice may be the newest after a save: such names are compared alone.
void Note(Contents* contents, const std::string& name, const std::string& bytes) {
  if (!contents->emplace(name, bytes).second) (*contents)[name] = "twice";
}

Contents Read(tovrel::Archive* archive) {
  Contents contents;
  archive->VisitEntries([&](const char* name, const tovrel::ArchiveEntry&) {
    tovrel::Blob blob;
    const bool ok = archive->Extract(name, &blob);
    if (!ok && (blob.buffer != nullptr || blob.length != 0)) Fail("a failed Extract left a filled Blob");
    // the check that keeps no bytes judges every stream as extraction does, unless there was no room
    const bool noRoom = !ok && tovrel::LastFailure().rfind("not enough memory for", 0) == 0;
    if (!noRoom && archive->Verify(name) != ok) Fail("Verify and Extract disagree");
    Note(&contents, name, ok ? "+" + std::string(reinterpret_cast<char*>(blob.buffer), blob.length) : "-");
    archive->FreeBlob(&blob);
  });
  return contents;
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
  tovrel::Archive archive(path.c_str(), /*create=*/false);
  if (!archive.IsOpen()) return 0;
  Contents expected = Read(&archive);
  if (size % 2 == 1) {
    // a refusal shows as an entry missing after the save
    archive.AddBlob(".fz", tovrel::Blob{const_cast<std::uint8_t*>(data), static_cast<std::int32_t>(size)});
    Note(&expected, ".fz", "+" + input);
  }
  if (!archive.Save()) {
    // zlib refuses a level outside -1..9, so only such an archive cannot take a new entry
    const auto level = static_cast<std::int32_t>(tovrel::DecodeFixed32(input.data() + 8));
    if (size % 2 == 0 || (level >= -1 && level <= 9)) Fail("Save failed on a scratch file system");
    std::ifstream in(path, std::ios::binary);
    if (std::string(std::istreambuf_iterator<char>(in), {}) != input) Fail("a failed Save changed the file");
    return 0;
  }
  tovrel::Archive reopened(path.c_str(), /*create=*/false);
  if (!reopened.IsOpen()) Fail("a saved archive does not reopen");
  if (Read(&reopened) != expected) Fail("the saved archive holds other entries or other bytes");
  return 0;
}
