// The parts of the platform layer that make no system call, so every platform builds and tests the
// same rules: the console hold, the retry schedule, and the names of temporary files.
#include <cstring>

#include "platform/platform.h"

namespace tovrel {

namespace {

constexpr char kTempPrefix[] = "~tovrel-";
constexpr char kTempSuffix[] = ".tmp";
constexpr std::size_t kTempRandomLength = 8;

bool IsTempNameCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

}  // namespace

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
