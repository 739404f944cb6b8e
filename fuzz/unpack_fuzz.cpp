// Fuzz target: the real tool, built with the same sanitizers, unpacks an arbitrary archive. Each input
// becomes <root>/w/save/s.ssav beside two older files of the save; the tool runs with <root>/w/cwd as
// its working directory. The archive library predicts the run: the files written (at most three, in
// table order, never a name with a separator nor the archive itself) and the exit code. Afterwards
// <root>/w must hold exactly that: every file whole, the archive unchanged, no temporary and nothing
// else anywhere; stderr holds one whole line per failed or skipped entry.
#include <sys/wait.h>
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
#include "core/scrambler.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSanitizerExit = 86;  // distinct from every exit code of the tool
fs::path gRoot;
const std::map<std::string, std::string> kOlderFiles = {{"save/s.sav", "the save before the unpack\n"},
                                                        {"save/s.jpg", std::string(3000, 'J')}};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "unpack_fuzz: %s\n", what.c_str());
  std::abort();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the run should leave: every path under <root>/w with its bytes ("<dir>" for a folder), the
// exit code, and the number of stderr lines.
struct Outcome {
  std::map<std::string, std::string> files = kOlderFiles;
  int exitCode = 0;
  int lines = 0;
};

Outcome Predict(const fs::path& archivePath, const std::string& input) {
  Outcome out;
  out.files.insert({{"cwd", "<dir>"}, {"save", "<dir>"}, {"save/s.ssav", input}});
  tovrel::Archive archive(archivePath.c_str(), /*create=*/false);
  if (!archive.IsOpen()) return Outcome{out.files, 3, 1};
  int attempts = 0;
  archive.VisitNames([&](const char* name) {
    ++out.lines;  // a note past the third file, else an error unless the entry is written
    if (attempts == 3) return;
    const std::string file = std::string("s") + name;
    tovrel::Blob blob;
    if (file.find_first_of("/\\:") != std::string::npos || file == "s.ssav" ||
        !archive.Extract(name, &blob)) {
      out.exitCode = 3;
      return;
    }
    ++attempts;
    if (file == "s.sav")
      tovrel::ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), tovrel::kScrambleKey);
    if (file.size() <= 255) {  // a longer name no file system here can hold
      out.files["save/" + file] = std::string(reinterpret_cast<char*>(blob.buffer), blob.length);
      --out.lines;
    } else {
      out.exitCode = 3;
    }
    archive.FreeBlob(&blob);
  });
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  gRoot = base / ("tovrel-unpack-fuzz-" + std::to_string(getpid()));
  fs::remove_all(gRoot);
  tovrel::CreatePool(tovrel::kDirectHeapMode);
  std::atexit([] { fs::remove_all(gRoot); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const fs::path work = gRoot / "w", archivePath = work / "save/s.ssav";
  fs::remove_all(work);
  fs::create_directories(work / "save");
  fs::create_directories(work / "cwd");
  for (const auto& [name, bytes] : kOlderFiles) std::ofstream(work / name, std::ios::binary) << bytes;
  std::ofstream(archivePath, std::ios::binary) << input;
  const Outcome expected = Predict(archivePath, input);

  // the tool halts at its sanitizers' first report, with an exit code of its own
  const std::string sanitizers =
      "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:exitcode=" + std::to_string(kSanitizerExit) +
      " UBSAN_OPTIONS=halt_on_error=1:exitcode=" + std::to_string(kSanitizerExit);
  const int status =
      std::system(("cd '" + (work / "cwd").string() + "' && " + sanitizers + " '" TOOL_PATH "' '" +
                   archivePath.string() + "' </dev/null >/dev/null 2>'" + (gRoot / "err").string() + "'")
                      .c_str());
  const std::string err = ReadFile(gRoot / "err");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != expected.exitCode)
    Fail("exit status " + std::to_string(status) + ", expected code " + std::to_string(expected.exitCode) +
         ":\n" + err);
  int lines = 0;
  for (std::size_t start = 0; start < err.size(); ++lines) {
    const std::size_t end = err.find('\n', start);
    const std::string line = err.substr(start, end - start);
    if (end == std::string::npos || (line.rfind("error: ", 0) != 0 && line.rfind("note: ", 0) != 0))
      Fail("a stderr line that is not one whole error or note:\n" + err);
    for (const char c : line)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Fail("a control byte in a message:\n" + err);
    start = end + 1;
  }
  if (lines != expected.lines) Fail("expected " + std::to_string(expected.lines) + " stderr lines:\n" + err);
  std::map<std::string, std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(work)) {
    found[entry.path().lexically_relative(work).string()] = entry.is_directory()      ? "<dir>"
                                                            : entry.is_regular_file() ? ReadFile(entry.path())
                                                                                      : "<other>";
  }
  if (found != expected.files) Fail("the folders do not hold exactly the predicted files, whole");
  return 0;
}
