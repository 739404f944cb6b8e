// Helpers shared by the test executables: scratch directories, fixtures, whole-file byte access and
// running the real tool as a subprocess. Paths are UTF-8 strings, as in the tool itself.
#ifndef TOVREL_TESTS_TEST_UTIL_H_
#define TOVREL_TESTS_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "core/common.h"
#include "core/scrambler.h"

namespace tovrel {

class IArchive;

namespace test {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// Golden archives: the empty one, and ".txt" holding "abc" (header, one record, the 11-byte zlib stream
// of "abc"; 47 bytes in all).
constexpr char kEmptyArchive[] = "4d585051 10000000 06000000 00000000";
constexpr char kOneEntryArchive[] =
    "4d585051 24000000 06000000 01000000 04000000 2e747874 24000000 0b000000 03000000 789c4b4c4a0600024d0127";

// The direct-heap pool every archive needs, made before the first test and ended after the last:
// `::testing::AddGlobalTestEnvironment(new DirectHeapPool)`.
class DirectHeapPool : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// The UTF-8 path `path` as the standard library takes it on this platform.
std::filesystem::path FsPath(const std::string& path);

// A fresh empty directory under the system's temporary folder, removed with everything in it when the
// object goes out of scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory itself, without a trailing separator.
  const std::string& path() const { return path_; }
  // `name` inside the directory.
  std::string Path(const std::string& name) const;

 private:
  std::string path_;
};

// The bytes written as hex digits in `hex`; spaces are ignored.
std::string FromHex(std::string hex);
// `bytes` run through the save scrambler with `key`.
std::string Scrambled(std::string bytes, std::uint32_t key = kScrambleKey);

// Bytes deterministic for a seed: random-looking (incompressible) or text-like (compressible).
std::string RandomBytes(std::size_t length, std::uint32_t seed);
std::string TextBytes(std::size_t length, std::uint32_t seed);

// Files by name, with their bytes.
using Files = std::map<std::string, std::string>;

// Whole-file access for fixtures. ReadBytes fails the current test when the file cannot be read.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);
// Writes every file of `files` into `dir`.
void WriteAll(const ScratchDir& dir, const Files& files);
// Every entry of `dir` (not below it) by name: a file's bytes, or "/" for anything else. The
// temporaries of this tool (a killed run's leftovers) only `withTemporaries`.
Files Contents(const std::string& dir, bool withTemporaries = true);

// A Blob that lends `bytes`' storage (no copy): for AddBlob, while `bytes` lives.
Blob BlobOf(std::string& bytes);
// The bytes of the entry `name`; fails the current test when it cannot be extracted.
std::string ExtractString(IArchive* archive, const char* name);

}  // namespace test
}  // namespace tovrel

#endif  // TOVREL_TESTS_TEST_UTIL_H_
