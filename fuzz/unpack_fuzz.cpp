// Fuzz target: the unpack command of the real tool on an arbitrary archive. Each input becomes
// <parent>/save/s.ssav in a fresh folder, beside two older files of the save (s.sav, s.jpg) and what a
// killed run could leave (s.jpg.part, and s.sav.part as a link to the sentinel); the parent also holds
// a sentinel file and the tool's working directory. The tool runs as a child process, so
// every run starts with its own count of files written, as users see it; it is the build's own
// sanitized binary, and a sanitizer report or a signal in it aborts this process.
// The same input is opened in-process with the archive library to predict the run: which files get
// written with which bytes, and the exit code. Afterwards the save folder must hold exactly that, the
// archive unchanged, nothing else (no ".part" or other leftover, no truncated file), and nothing may
// have appeared or changed outside it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "core/common.h"
#include "core/scrambler.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr char kBaseName[] = "s";
constexpr int kSanitizerExit = 86;  // distinct from every exit code of the tool
constexpr int kMaxFilesPerRun = 3;
constexpr std::size_t kMaxFileNameLength = 255;  // NAME_MAX of the usual Linux file systems
const std::map<std::string, std::string> kOlderFiles = {
    {"s.sav", "the save as it was before the unpack\n"},
    {"s.jpg", std::string(3000, 'J')}};  // long, so a truncation shows
constexpr char kSentinel[] = "sentinel.txt";
// left by an earlier, killed run: a half-written temporary, and a link from one out to the sentinel
constexpr char kLeftover[] = "s.jpg.part";
constexpr char kLeftoverBytes[] = "half a member";
constexpr char kLeftoverLink[] = "s.sav.part";
constexpr char kSentinelBytes[] = "must stay as it is\n";

fs::path gParent;
fs::path gSaveDir;
fs::path gWorkDir;
std::vector<std::string> gChildEnv;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "unpack_fuzz: %s\n", what.c_str());
  std::abort();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write " + path.string());
}

// Every entry of `dir` by name, with its bytes ("<dir>" for a directory, "<other>" for anything else).
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink() || (!entry.is_regular_file() && !entry.is_directory())) {
      files[name] = "<other>";
    } else if (entry.is_directory()) {
      files[name] = "<dir>";
    } else {
      files[name] = ReadFile(entry.path());
    }
  }
  return files;
}

// What the run should do, worked out with the archive library alone.
struct Prediction {
  int exitCode = 0;
  int errors = 0;                            // "error: " lines on stderr
  int notes = 0;                             // "note: " lines: entries skipped past the three-file limit
  std::map<std::string, std::string> files;  // the save folder afterwards
};

Prediction* gPrediction = nullptr;
int gAttempts = 0;

// Mirrors the tool's per-entry rules: three attempts per run, then unsafe names, then extraction.
void PredictEntry(tovrel::Archive* archive, const char* entryName) {
  if (gAttempts >= kMaxFilesPerRun) {  // skipped with a note, not a failure
    ++gPrediction->notes;
    return;
  }
  const std::string name = entryName;
  const std::string fileName = kBaseName + name;
  if (name.find_first_of("/\\:") != std::string::npos || name == tovrel::kArchiveExtension) {
    gPrediction->exitCode = 3;
    ++gPrediction->errors;
    return;
  }
  // nor one whose temporary "<name>.part" is another entry's output
  if (archive->Contains((name + ".part").c_str())) {
    gPrediction->exitCode = 3;
    ++gPrediction->errors;
    return;
  }
  tovrel::Blob blob;
  if (!archive->Extract(entryName, &blob)) {
    gPrediction->exitCode = 3;
    ++gPrediction->errors;
    return;
  }
  ++gAttempts;
  // whatever was left at the temporary's path goes, and is never written through
  gPrediction->files.erase(fileName + ".part");
  if (name == tovrel::kSaveExtension) {
    tovrel::ScrambleSaveData(blob.buffer, static_cast<std::uint32_t>(blob.length), tovrel::kScrambleKey);
  }
  std::string bytes(reinterpret_cast<const char*>(blob.buffer), static_cast<std::size_t>(blob.length));
  archive->FreeBlob(&blob);
  // the member goes to "<name>.part" first; a name the file system cannot hold fails the entry
  if (fileName.size() + 5 > kMaxFileNameLength) {
    gPrediction->exitCode = 3;
    ++gPrediction->errors;
    return;
  }
  gPrediction->files[fileName] = std::move(bytes);
}

Prediction Predict(const fs::path& archivePath, const std::string& input) {
  Prediction prediction;
  prediction.files = kOlderFiles;
  prediction.files[kLeftover] = kLeftoverBytes;
  prediction.files[kLeftoverLink] = "<other>";
  prediction.files[std::string(kBaseName) + tovrel::kArchiveExtension] = input;
  tovrel::Archive archive(archivePath.c_str(), /*create=*/false);
  if (!archive.IsOpen()) {
    prediction.exitCode = 3;
    prediction.errors = 1;
    return prediction;
  }
  gPrediction = &prediction;
  gAttempts = 0;
  (void)archive.ForEach(PredictEntry);
  gPrediction = nullptr;
  return prediction;
}

// Runs the tool on `archivePath` in the working directory; returns its exit code and stores its stderr
// in `*err`. Sanitizer reports and signals abort the fuzzer, with the tool's stderr shown.
int RunTool(const fs::path& archivePath, std::string* errOut) {
  int errPipe[2];
  if (pipe(errPipe) != 0) Fail("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[1]);
  posix_spawn_file_actions_addchdir_np(&actions, gWorkDir.c_str());  // nothing may land there either
  std::vector<char*> env;
  for (std::string& variable : gChildEnv) env.push_back(variable.data());
  env.push_back(nullptr);
  std::string tool = TOOL_PATH;
  std::string argument = archivePath.string();
  char* argv[] = {tool.data(), argument.data(), nullptr};
  pid_t pid;
  const int spawned = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  (void)close(errPipe[1]);
  if (spawned != 0) Fail(std::string("cannot start the tool: ") + std::strerror(spawned));

  std::string err;
  char buffer[4096];
  ssize_t got;
  while ((got = read(errPipe[0], buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    err.append(buffer, static_cast<std::size_t>(got));
  }
  (void)close(errPipe[0]);
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid failed");
  }
  if (WIFSIGNALED(status)) Fail("the tool died of signal " + std::to_string(WTERMSIG(status)) + ":\n" + err);
  if (WEXITSTATUS(status) == kSanitizerExit) Fail("the tool's sanitizers reported:\n" + err);
  *errOut = std::move(err);
  return WEXITSTATUS(status);
}

// One line per failed entry and per skipped one, each whole: hostile names cannot break a line.
void CheckMessages(const std::string& err, const Prediction& prediction) {
  int errors = 0;
  int notes = 0;
  std::size_t start = 0;
  while (start < err.size()) {
    const std::size_t end = err.find('\n', start);
    if (end == std::string::npos) Fail("an unterminated line on stderr:\n" + err);
    const std::string line = err.substr(start, end - start);
    start = end + 1;
    for (const char c : line) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Fail("a control byte in a message:\n" + err);
    }
    if (line.rfind("error: ", 0) == 0) {
      ++errors;
    } else if (line.rfind("note: ", 0) == 0) {
      ++notes;
    } else {
      Fail("a stderr line that is neither an error nor a note:\n" + err);
    }
  }
  if (errors != prediction.errors || notes != prediction.notes) {
    Fail("expected " + std::to_string(prediction.errors) + " errors and " + std::to_string(prediction.notes) +
         " notes on stderr:\n" + err);
  }
}

void Reset(const std::string& input) {
  std::error_code ec;
  fs::remove_all(gSaveDir, ec);
  fs::create_directory(gSaveDir, ec);
  if (ec) Fail("cannot make the save folder");
  for (const auto& [name, bytes] : kOlderFiles) WriteFile(gSaveDir / name, bytes);
  WriteFile(gSaveDir / kLeftover, kLeftoverBytes);
  fs::create_symlink(fs::path("..") / kSentinel, gSaveDir / kLeftoverLink, ec);
  if (ec) Fail("cannot make the leftover link");
  WriteFile(gSaveDir / (std::string(kBaseName) + tovrel::kArchiveExtension), input);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  gParent = base / ("tovrel-unpack-fuzz-" + std::to_string(getpid()));
  gSaveDir = gParent / "save";
  gWorkDir = gParent / "cwd";
  std::error_code ec;
  fs::remove_all(gParent, ec);
  fs::create_directories(gWorkDir, ec);
  if (ec) Fail("cannot make the scratch folders");
  WriteFile(gParent / kSentinel, kSentinelBytes);

  // the tool gets its own sanitizer settings: halt at once, with an exit code of its own
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "ASAN_OPTIONS=", 13) != 0 &&
        std::strncmp(*variable, "UBSAN_OPTIONS=", 14) != 0) {
      gChildEnv.emplace_back(*variable);
    }
  }
  const std::string exitCode = std::to_string(kSanitizerExit);
  gChildEnv.push_back("ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:exitcode=" + exitCode);
  gChildEnv.push_back("UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=" + exitCode);

  tovrel::CreatePool(tovrel::kDirectHeapMode);
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(gParent, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Reset(input);
  const fs::path archivePath = gSaveDir / (std::string(kBaseName) + tovrel::kArchiveExtension);
  const Prediction prediction = Predict(archivePath, input);

  std::string err;
  const int exitCode = RunTool(archivePath, &err);
  if (exitCode != prediction.exitCode) {
    Fail("exit code " + std::to_string(exitCode) + ", expected " + std::to_string(prediction.exitCode));
  }
  CheckMessages(err, prediction);
  const std::map<std::string, std::string> saveFolder = Snapshot(gSaveDir);
  for (const auto& [name, bytes] : saveFolder) {
    const auto expected = prediction.files.find(name);
    if (expected == prediction.files.end()) Fail("unexpected file in the save folder: " + name);
    if (expected->second != bytes) Fail("wrong or partial contents in " + name);
  }
  if (saveFolder.size() != prediction.files.size()) Fail("a file of the save folder is missing");
  // nothing outside the save folder: the parent holds what it held, the working directory stays empty
  const std::map<std::string, std::string> parent = Snapshot(gParent);
  if (parent.size() != 3 || parent.count("save") != 1 || parent.count("cwd") != 1 ||
      parent.count(kSentinel) != 1 || parent.at(kSentinel) != kSentinelBytes) {
    Fail("something appeared or changed beside the save folder");
  }
  if (!fs::is_empty(gWorkDir)) Fail("something appeared in the working directory");
  return 0;
}
