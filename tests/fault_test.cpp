// Fault injection on real I/O: the real binary runs with a file-size limit (`ulimit -f`, in 512-byte
// blocks), so a write fails part-way as on a full disk (EFBIG with SIGXFSZ ignored), or the process is
// killed there (the signal's default action, like a crash or a power cut). Whatever the limit, the
// previous archive and the files beside it must come through byte for byte, a failed run must say so
// and leave no temporary behind, and after a crash the next normal run must succeed. POSIX only.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace {

using test::RandomBytes;
using test::ReadBytes;
using test::ScratchDir;
using test::TextBytes;
using test::WriteBytes;
using Files = std::map<std::string, std::string>;

constexpr long kNoLimit = -1;
constexpr std::size_t kBlock = 512;

struct LimitedRun {
  int exitCode;        // 128 + the signal when the tool was killed by one
  std::string output;  // stdout and stderr together
};

// Runs the tool on `arg` in `dir` with every file it writes capped at `blocks` 512-byte blocks. Its
// output goes through a pipe, which the limit does not touch. With `killed`, reaching the limit kills it.
LimitedRun RunLimited(const ScratchDir& dir, const std::string& arg, long blocks, bool killed = false) {
  ScratchDir capture;
  const std::string limit = blocks == kNoLimit ? "" : "ulimit -f " + std::to_string(blocks) + "; ";
  const std::string command = "cd '" + dir.path() + "' && { sh -c '" + (killed ? "" : "trap \"\" XFSZ; ") +
                              limit + "exec \"$0\" \"$1\"' '" + TOOL_PATH + "' '" + arg +
                              "' </dev/null 2>&1; echo \"exit $?\"; } | cat >'" + capture.Path("out") + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot run " << command;
  std::string output = ReadBytes(capture.Path("out"));
  const std::size_t last = output.rfind("exit ");
  if (last == std::string::npos) return {-1, output};
  return {std::atoi(output.c_str() + last + 5), output.substr(0, last)};
}

// Every file of `dir` with its bytes, leftovers of killed runs (our temporaries) apart.
Files Contents(const ScratchDir& dir, bool withTemporaries = false) {
  Files files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (withTemporaries || !IsTempFileName(name.c_str())) files[name] = ReadBytes(entry.path().string());
  }
  return files;
}

// A save of three members: an incompressible one over two 16 KiB windows, a compressible one and a
// small one. `seed` varies the bytes.
Files MakeSave(std::uint32_t seed) {
  return {{"s.sav", RandomBytes(40000 + seed, seed)},
          {"s.jpg", TextBytes(30000, seed + 1)},
          {"s.txt", RandomBytes(700, seed + 2)}};
}

// `files` written in a new scratch folder, with the archive `archive` beside them when it is not empty.
void Populate(const ScratchDir& dir, const Files& files, const std::string& archive) {
  for (const auto& [name, bytes] : files) WriteBytes(dir.Path(name), bytes);
  if (!archive.empty()) WriteBytes(dir.Path("s.ssav"), archive);
}

// The archive of `save`, packed without limit.
std::string PackedBytes(const Files& save) {
  ScratchDir dir;
  Populate(dir, save, "");
  EXPECT_EQ(0, RunLimited(dir, "s.sav", kNoLimit).exitCode);
  return ReadBytes(dir.Path("s.ssav"));
}

TEST(FaultTest, PackThatCannotWriteLeavesThePreviousArchiveAndNoLeftovers) {
  const std::string previous = PackedBytes(MakeSave(1));
  const Files save = MakeSave(2);
  const std::string packed = PackedBytes(save);
  const long blocks =
      static_cast<long>((packed.size() - 1) / kBlock);  // the last block the archive cannot fit
  for (const long limit : {0L, 1L, 31L, 32L, 33L, blocks / 2, blocks}) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " blocks");
    ScratchDir dir;
    Populate(dir, save, previous);
    const LimitedRun run = RunLimited(dir, "s.sav", limit);
    EXPECT_EQ(3, run.exitCode);
    EXPECT_EQ(1, std::count(run.output.begin(), run.output.end(), '\n') - 3) << run.output;  // banner aside
    EXPECT_NE(std::string::npos, run.output.find("error: cannot save the archive '" + dir.Path("s.ssav") +
                                                 "': File too large\n"))
        << run.output;
    Files expected = save;
    expected["s.ssav"] = previous;
    EXPECT_EQ(expected, Contents(dir, true));
  }
  ScratchDir dir;
  Populate(dir, save, previous);
  EXPECT_EQ(0, RunLimited(dir, "s.sav", blocks + 1).exitCode);  // the new archive just fits
  EXPECT_EQ(packed, ReadBytes(dir.Path("s.ssav")));
}

TEST(FaultTest, UnpackThatCannotWriteKeepsTheOlderFiles) {
  const Files save = MakeSave(3);
  const std::string archive = PackedBytes(save);
  const Files older = {{"s.sav", "an older save"}, {"s.jpg", std::string(50000, 'j')}};
  // each limit lets exactly the members no longer than it through
  for (const long limit : {0L, 1L, 2L, 58L, 59L, 78L, 79L}) {
    SCOPED_TRACE("limit " + std::to_string(limit) + " blocks");
    ScratchDir dir;
    Populate(dir, older, archive);
    const LimitedRun run = RunLimited(dir, "s.ssav", limit);
    Files expected = older;
    expected["s.ssav"] = archive;
    bool anyFailed = false;
    for (const auto& [name, bytes] : save) {
      const bool fits = bytes.size() <= static_cast<std::size_t>(limit) * kBlock;
      if (fits) expected[name] = bytes;
      anyFailed = anyFailed || !fits;
      EXPECT_EQ(!fits, run.output.find("error: cannot write '" + dir.Path(name) + "': File too large\n") !=
                           std::string::npos)
          << run.output;
    }
    EXPECT_EQ(anyFailed ? 3 : 0, run.exitCode) << run.output;
    EXPECT_EQ(expected, Contents(dir, true));  // older files whole or replaced whole, no temporary left
    EXPECT_NE(std::string::npos, run.output.find("Total files in archive: \t3\n")) << run.output;
  }
}

TEST(FaultTest, CrashWhileWritingLeavesOldFilesWholeAndTheNextRunRecovers) {
  const std::string previous = PackedBytes(MakeSave(4));
  const Files save = MakeSave(5);
  const std::string packed = PackedBytes(save);
  const Files older = {{"s.sav", "an older save"}, {"s.jpg", std::string(50000, 'j')}};
  struct Case {
    const char* arg;
    const Files& before;
    std::string archive;
    long limit;
  };
  for (const Case& c : {Case{"s.sav", save, previous, 0}, Case{"s.sav", save, previous, 40},
                        Case{"s.ssav", older, packed, 1}, Case{"s.ssav", older, packed, 40}}) {
    SCOPED_TRACE(std::string(c.arg) + " killed at " + std::to_string(c.limit) + " blocks");
    ScratchDir dir;
    Populate(dir, c.before, c.archive);
    EXPECT_EQ(128 + SIGXFSZ, RunLimited(dir, c.arg, c.limit, true).exitCode);
    Files expected = c.before;
    expected["s.ssav"] = c.archive;
    for (const auto& [name, bytes] : Contents(dir)) {  // each file is the old one or the new one, whole
      EXPECT_TRUE(bytes == expected[name] || (c.before != save && bytes == save.at(name))) << name;
    }
    // the killed run's temporary is left alone, and stands in nobody's way
    EXPECT_EQ(0, RunLimited(dir, c.arg, kNoLimit).exitCode);
    expected = save;
    expected["s.ssav"] = packed;
    EXPECT_EQ(expected, Contents(dir));
  }
}

TEST(FaultTest, ReportThatCannotBeWrittenFailsTheRun) {
  ScratchDir dir;
  Populate(dir, MakeSave(6), "");
  for (const char* arg : {"s.sav", "s.ssav"}) {
    SCOPED_TRACE(arg);
    const std::string command =
        "cd '" + dir.path() + "' && '" + TOOL_PATH + "' " + arg + " >/dev/full 2>'" + dir.Path("err") + "'";
    EXPECT_NE(0, std::system(command.c_str()));
    EXPECT_EQ("error: cannot write to standard output: No space left on device\n",
              ReadBytes(dir.Path("err")));
    fs::remove(dir.Path("err"));
  }
  EXPECT_EQ(MakeSave(6).at("s.sav"), ReadBytes(dir.Path("s.sav")));  // the work itself was done
}

}  // namespace
}  // namespace tovrel
