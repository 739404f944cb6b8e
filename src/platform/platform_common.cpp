// The parts of the platform layer that do not depend on the system, so every platform builds and tests
// the same rules: the latest failure's reason, how a path splits into its parts, the search for a
// save's files once the system has read the directory, the console hold, the retry schedule, and the
// names of temporary files.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/platform_test_helper.h"

namespace tovrel {

namespace {

constexpr char kTempPrefix[] = "~tovrel-";
constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kTempRandomLength = 8;

bool IsTempNameCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

std::string& FailureText() {
  static std::string text;
  return text;
}

}  // namespace

std::string LastFailure() { return FailureText(); }

void RecordErrno(const char* otherwise) { FailureText() = errno != 0 ? std::strerror(errno) : otherwise; }

void RecordFailure(const std::string& reason) { FailureText() = reason; }

const char* FinalComponent(const char* path) {
  const char* component = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (std::strchr(kPathSeparators, *p) != nullptr) component = p + 1;
  }
  return component;
}

const char* FindExtension(const char* name) {
  const char* component = FinalComponent(name);
  const char* dot = std::strrchr(component, '.');
  return dot != nullptr ? dot : component + std::strlen(component);
}

bool SplitPath(const char* fullPath, PathParts* parts) {
  // every separator is ASCII, and no byte of a UTF-8 sequence is, so a byte scan splits safely
  const char* name = FinalComponent(fullPath);
  if (name == fullPath) return false;
  parts->directory.assign(fullPath, static_cast<std::size_t>(name - fullPath));
  parts->baseName.assign(name, static_cast<std::size_t>(FindExtension(name) - name));
  return true;
}

bool ListMatchingFiles(const char* directory, const char* baseName, std::vector<FoundFile>* found) {
  found->clear();
  std::vector<FoundFile> entries;
  if (!ReadMatchingEntries(directory, baseName, &entries)) return false;
  for (FoundFile& entry : entries) {
    // another run's temporary is never a member, even one named like the base
    if (!IsTempFileName(entry.name.c_str())) found->push_back(std::move(entry));
  }
  if (found->empty()) return false;
  // std::string orders by unsigned byte values, the same on every platform and locale
  std::sort(found->begin(), found->end(),
            [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
  return true;
}

bool ShouldHoldConsole(const ConsoleState& console) {
  // a count of 0 means no console or a failed query; 2 or more, a shell or another program shares it
  return console.processCount == 1 && console.stdinIsConsole && console.stdoutIsConsole &&
         console.windowVisible && !console.startedHidden;
}

int RetryPause(bool transient, int attempt) {
  // 10, 20, 40 ... 320 ms, then 320 ms more until about two seconds have passed in all
  constexpr int kFirstPause = 10;
  constexpr int kLongestPause = 320;
  constexpr int kTotal = 2000;
  if (!transient || attempt < 1) return -1;
  int pause = kFirstPause;
  int waited = 0;
  for (int i = 1; i < attempt; ++i) {
    waited += pause;
    if (pause < kLongestPause) pause *= 2;
  }
  return waited + pause > kTotal ? -1 : pause;
}

std::string TempFileName(std::uint64_t seed) {
  // splitmix64's finaliser: seeds that differ in a few bits (a counter, a clock) give unrelated names
  seed = (seed ^ (seed >> 30)) * 0xBF58476D1CE4E5B9u;
  seed = (seed ^ (seed >> 27)) * 0x94D049BB133111EBu;
  seed ^= seed >> 31;
  std::string name = kTempPrefix;
  for (std::size_t i = 0; i < kTempRandomLength; ++i) {
    const auto digit = static_cast<unsigned>(seed % 36);
    seed /= 36;
    name += static_cast<char>(digit < 10 ? '0' + digit : 'a' + (digit - 10));
  }
  return name + kTempSuffix;
}

bool IsTempFileName(const char* name) {
  const std::size_t prefixLength = sizeof kTempPrefix - 1;
  const std::size_t length = std::strlen(name);
  if (length != prefixLength + kTempRandomLength + sizeof kTempSuffix - 1) return false;
  if (std::strncmp(name, kTempPrefix, prefixLength) != 0) return false;
  for (std::size_t i = 0; i < kTempRandomLength; ++i) {
    if (!IsTempNameCharacter(name[prefixLength + i])) return false;
  }
  return std::strcmp(name + prefixLength + kTempRandomLength, kTempSuffix) == 0;
}

}  // namespace tovrel
