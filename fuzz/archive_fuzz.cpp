// Fuzz target: an arbitrary byte string opened as an archive. Every entry of an archive that opens is
// extracted. A copy of such an archive is then saved, for half the inputs with one entry added (the
// old streams are copied, the new one compressed), and it must reopen holding the same entries with
// the same bytes; a save that fails must leave the copy as it was.
// Scratch files live in one folder (on /dev/shm when there is one), which is also the working
// directory while a save runs, so its temporary file lands there too.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "core/common.h"

namespace fs = std::filesystem;

namespace {

constexpr char kAddedName[] = ".fz";
constexpr char kSentinel[] = "sentinel";
constexpr char kSentinelBytes[] = "must stay as it is";

fs::path gScratchDir;
std::string gInputPath;
std::string gCopyPath;

// The outcome of extracting one entry by name.
struct Extracted {
  bool ok;
  std::string bytes;
};

// What a walk saw: every visited name, and what Extract gave for each name.
struct WalkResult {
  std::vector<std::string> names;
  std::map<std::string, Extracted> byName;
};

WalkResult* gWalk = nullptr;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "archive_fuzz: %s\n", what);
  std::abort();
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("cannot create a scratch file");
  const bool ok = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !ok) Fail("cannot write a scratch file");
}

std::string ReadFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("cannot open a scratch file");
  std::string bytes;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  (void)std::fclose(file);
  if (failed) Fail("cannot read a scratch file");
  return bytes;
}

void VisitEntry(tovrel::Archive* archive, const char* name) {
  gWalk->names.push_back(name);
  tovrel::Blob blob;
  const bool ok = archive->Extract(name, &blob);
  if (!ok && (blob.buffer != nullptr || blob.length != 0)) Fail("a failed Extract left a filled Blob");
  if (ok && blob.length < 0) Fail("Extract gave a negative length");
  Extracted result{
      ok, ok ? std::string(reinterpret_cast<const char*>(blob.buffer), static_cast<std::size_t>(blob.length))
             : std::string()};
  archive->FreeBlob(&blob);
  if (blob.buffer != nullptr || blob.length != 0) Fail("FreeBlob left the Blob filled");
  gWalk->byName[name] = std::move(result);
}

WalkResult Walk(tovrel::Archive* archive) {
  WalkResult result;
  gWalk = &result;
  const std::int32_t visits = archive->ForEach(VisitEntry);
  gWalk = nullptr;
  if (visits != static_cast<std::int32_t>(result.names.size())) Fail("ForEach miscounted its calls");
  if (visits != archive->EntryCount()) Fail("the walk and the entry count disagree");
  return result;
}

// Saves a copy of the open input with one entry added and checks that it reopens unchanged.
void CheckSaveRoundTrip(const WalkResult& before, const std::uint8_t* data, std::size_t size) {
  WriteFile(gCopyPath, data, size);
  tovrel::Archive copy(gCopyPath.c_str(), /*create=*/false);
  if (!copy.IsOpen()) Fail("an identical copy of an archive that opened does not open");
  // half the inputs save the archive as it is (every stream copied), half with one entry added, by
  // copy or by handing the buffer over
  const bool add = size % 2 == 1;
  if (add && size % 4 == 1) {
    tovrel::Blob added;
    added.buffer = const_cast<unsigned char*>(data);  // AddBlob only reads it
    added.length = static_cast<std::int32_t>(size);
    if (!copy.AddBlob(kAddedName, added)) Fail("AddBlob refused a short name");
  } else if (add) {  // as the pack command adds its members: the entry takes the buffer over
    tovrel::Blob owned;
    owned.buffer = new unsigned char[size];
    std::memcpy(owned.buffer, data, size);
    owned.length = static_cast<std::int32_t>(size);
    if (!copy.AddOwnedBlob(kAddedName, &owned)) Fail("AddOwnedBlob refused a short name");
    if (owned.buffer != nullptr || owned.length != 0) Fail("AddOwnedBlob left the Blob filled");
  }
  std::error_code ec;
  const fs::path previous = fs::current_path(ec);
  fs::current_path(gScratchDir, ec);
  if (ec) Fail("cannot enter the scratch folder");
  // a killed save's leftover: a link from the temporary's name to a file that must stay as it is
  fs::create_symlink(kSentinel, tovrel::kTempFileName, ec);
  if (ec) Fail("cannot make the leftover link");
  const bool saved = copy.Save();
  const bool leftover = fs::symlink_status(tovrel::kTempFileName).type() != fs::file_type::not_found;
  if (ReadFile((gScratchDir / kSentinel).string()) != kSentinelBytes) Fail("Save wrote through a link");
  fs::current_path(previous, ec);
  if (leftover) Fail("Save left its temporary file behind");
  if (!saved) {
    // zlib refuses a level outside -1..9, so such an archive cannot take a new entry
    const auto level =
        static_cast<std::int32_t>(tovrel::DecodeFixed32(reinterpret_cast<const char*>(data) + 8));
    if (level >= -1 && level <= 9) Fail("Save failed on a scratch file system");
    if (ReadFile(gCopyPath) != std::string(reinterpret_cast<const char*>(data), size)) {
      Fail("a failed Save changed the archive file");
    }
    return;
  }

  tovrel::Archive reopened(gCopyPath.c_str(), /*create=*/false);
  if (!reopened.IsOpen()) Fail("a saved archive does not reopen");
  WalkResult after = Walk(&reopened);

  std::vector<std::string> expectedNames = before.names;
  if (add) expectedNames.push_back(kAddedName);
  std::sort(expectedNames.begin(), expectedNames.end());
  std::vector<std::string> names = after.names;
  std::sort(names.begin(), names.end());
  if (names != expectedNames) Fail("the saved archive holds other entries");

  // a name held twice may come back in the other order, so only unique names are compared
  for (const auto& [name, extracted] : after.byName) {
    if (std::count(expectedNames.begin(), expectedNames.end(), name) != 1) continue;
    if (add && name == kAddedName) {
      if (!extracted.ok || extracted.bytes != std::string(reinterpret_cast<const char*>(data), size)) {
        Fail("the entry added before the save does not extract to its bytes");
      }
      continue;
    }
    const Extracted& old = before.byName.at(name);
    if (extracted.ok != old.ok || extracted.bytes != old.bytes) Fail("a copied entry changed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  const fs::path dir = base / ("tovrel-archive-fuzz-" + std::to_string(getpid()));
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) Fail("cannot make the scratch folder");
  gScratchDir = dir;
  std::FILE* sentinel = std::fopen((dir / kSentinel).c_str(), "wb");
  if (sentinel == nullptr || std::fputs(kSentinelBytes, sentinel) < 0 || std::fclose(sentinel) != 0) {
    Fail("cannot write the sentinel");
  }
  gInputPath = (dir / "input.ssav").string();
  gCopyPath = (dir / "copy.ssav").string();
  tovrel::CreatePool(tovrel::kDirectHeapMode);  // as the tool does: the pool serves the name tables
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(gScratchDir, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  WriteFile(gInputPath, data, size);
  WalkResult before;
  {
    tovrel::Archive archive(gInputPath.c_str(), /*create=*/false);
    if (!archive.IsOpen()) return 0;
    before = Walk(&archive);
    (void)archive.TotalOriginalSize();
    (void)archive.FileLength();
  }
  CheckSaveRoundTrip(before, data, size);
  return 0;
}
