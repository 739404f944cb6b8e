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

namespace tovrel {

class IArchive;

namespace test {

// The direct-heap pool every archive needs, made before the first test and ended after the last:
// `::testing::AddGlobalTestEnvironment(new DirectHeapPool)`.
class DirectHeapPool : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

// The UTF-8 path `path` as the standard library takes it on this platform.
std::filesystem::path FsPath(const std::string& path);

// A fresh empty directory under the system's temporary folder (or under `parent` when given), removed
// with everything in it when the object goes out of scope.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& parent = "");
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
std::string FromHex(const std::string& hex);

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


// A Blob that lends `bytes`' storage (no copy): for AddBlob, while `bytes` lives.
Blob BlobOf(std::string& bytes);
// The bytes of the entry `name`; fails the current test when it cannot be extracted.
std::string ExtractString(IArchive* archive, const char* name);

// The outcome of one run of the tool.
struct ToolResult {
  int exitCode;
  std::string out;  // stdout
  std::string err;  // stderr
};

// Runs the tool at `toolPath` with `args` (already quoted as a shell would need) in the directory
// `workDir`, with stdin empty, and captures both output streams. On POSIX `wrapper` is a shell prefix
// put before the tool (a `timeout`, `setpriv`, or `ulimit ... &&`).
ToolResult RunTool(const std::string& toolPath, const std::string& workDir, const std::string& args,
                   const std::string& wrapper = "");

}  // namespace test
}  // namespace tovrel

#endif  // TOVREL_TESTS_TEST_UTIL_H_
