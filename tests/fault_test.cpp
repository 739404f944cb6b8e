// Fault injection on real I/O: the real binary runs with a file-size limit (RLIMIT_FSIZE), so a write
// fails part-way as on a full disk (EFBIG with SIGXFSZ ignored), or the process is killed there (the
// signal's default action, like a crash or a power cut). Whatever the limit, the previous archive and
// the files beside it must come through byte for byte, a failed run must say so and leave no
// temporary or partial file, and after a crash the next normal run must succeed. POSIX only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace {

using test::RandomBytes;
using test::ReadBytes;
using test::ScratchDir;
using test::TextBytes;
using test::WriteBytes;

constexpr rlim_t kNoLimit = RLIM_INFINITY;

struct LimitedRun {
  int exitCode;  // -1 when the tool was killed by a signal
  int signal;    // the signal that killed it, or 0
  std::string out;
  std::string err;
};

enum class OnLimit { kWriteFails, kProcessDies };

// Runs the tool with `args` in `workDir`, every file it writes capped at `fileLimit` bytes. Its stdout
// and stderr are pipes, which the limit does not touch, unless `stdoutPath` names a file to write to.
LimitedRun RunLimited(const std::string& workDir, const std::vector<std::string>& args, rlim_t fileLimit,
                      OnLimit onLimit, const char* stdoutPath = nullptr) {
  int outPipe[2];
  int errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {-1, 0, "", ""};
  }
  std::vector<char*> argv{const_cast<char*>(TOOL_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
    ADD_FAILURE() << "fork failed";
    return {-1, 0, "", ""};
  }
  if (pid == 0) {
    // the child: only async-signal-safe calls until exec
    const int in = open("/dev/null", O_RDONLY);
    const int out = stdoutPath != nullptr ? open(stdoutPath, O_WRONLY) : outPipe[1];
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(errPipe[1], 2) < 0) _exit(126);
    close(outPipe[0]);
    close(errPipe[0]);
    if (chdir(workDir.c_str()) != 0) _exit(126);
    const rlimit limit{fileLimit, fileLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    // an ignored signal stays ignored across exec: the write then fails with EFBIG instead
    std::signal(SIGXFSZ, onLimit == OnLimit::kWriteFails ? SIG_IGN : SIG_DFL);
    execv(TOOL_PATH, argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  LimitedRun run{-1, 0, "", ""};
  // drain both pipes as they fill, so a chatty child cannot block
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) ADD_FAILURE() << "waitpid failed";
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  EXPECT_NE(run.exitCode, 126) << "the child could not be set up";
  EXPECT_NE(run.exitCode, 127) << "the tool could not be started: " << TOOL_PATH;
  return run;
}

// Every file of `dir` with its bytes.
std::map<std::string, std::string> Contents(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    files[entry.path().filename().string()] = ReadBytes(entry.path().string());
  }
  return files;
}

std::vector<std::string> Names(const std::map<std::string, std::string>& files) {
  std::vector<std::string> names;
  for (const auto& file : files) names.push_back(file.first);
  return names;
}

// A save of three members: an incompressible one over two 16 KiB windows, a compressible one and a
// small one. `seed` varies the bytes.
std::map<std::string, std::string> MakeSave(std::uint32_t seed) {
  return {{"s.sav", RandomBytes(40000 + seed, seed)},
          {"s.jpg", TextBytes(30000, seed + 1)},
          {"s.txt", RandomBytes(700, seed + 2)}};
}

void WriteAll(const ScratchDir& dir, const std::map<std::string, std::string>& files) {
  for (const auto& [name, bytes] : files) WriteBytes(dir.Path(name), bytes);
}

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(TOOL_PATH)) GTEST_SKIP() << "no tool at " << TOOL_PATH;
  }
};

// Packs `save` once without limit in a scratch folder and returns the archive's bytes.
std::string PackedBytes(const std::map<std::string, std::string>& save) {
  ScratchDir dir;
  WriteAll(dir, save);
  const LimitedRun run = RunLimited(dir.path(), {"s.sav"}, kNoLimit, OnLimit::kWriteFails);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return ReadBytes(dir.Path("s.ssav"));
}

TEST_F(FaultTest, PackThatCannotWriteLeavesThePreviousArchiveAndNoLeftovers) {
  const std::string previous = PackedBytes(MakeSave(1));
  const std::map<std::string, std::string> save = MakeSave(2);
  const std::string packed = PackedBytes(save);
  const auto size = static_cast<rlim_t>(packed.size());
  ASSERT_GT(size, 2 * 16384u + 1);  // so the fixed limits below all fall inside the new archive

  // the limits cut the header, the first window, the middle and the very last byte of the new archive
  const rlim_t kLimits[] = {0, 1, 15, 16, 17, 4096, 16383, 16384, 16385, size / 2, size - 1};
  for (const bool elsewhere : {false, true}) {
    for (const rlim_t limit : kLimits) {
      SCOPED_TRACE(std::string(elsewhere ? "working directory elsewhere" : "working in the save's folder") +
                   ", limit " + std::to_string(limit));
      ScratchDir dir;
      ScratchDir work;
      WriteAll(dir, save);
      WriteBytes(dir.Path("s.ssav"), previous);
      const LimitedRun run =
          RunLimited(elsewhere ? work.path() : dir.path(), {dir.Path("s.sav")}, limit, OnLimit::kWriteFails);
      EXPECT_EQ(run.exitCode, 3);
      EXPECT_EQ(ReadBytes(dir.Path("s.ssav")), previous);
      // one line naming the archive and the reason; no report on stdout
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(run.err.rfind("error: cannot ", 0), 0u) << run.err;
      EXPECT_NE(run.err.find(dir.Path("s.ssav")), std::string::npos) << run.err;
      EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
      EXPECT_EQ(run.out.find("Total files"), std::string::npos) << run.out;
      // no "$tmp$", no "s.ssav.new": only what was there before
      EXPECT_EQ(Names(Contents(dir.path())), (std::vector<std::string>{"s.jpg", "s.sav", "s.ssav", "s.txt"}));
      EXPECT_TRUE(fs::is_empty(work.path()));
    }
  }
  SCOPED_TRACE("a limit the new archive just fits");
  ScratchDir dir;
  WriteAll(dir, save);
  WriteBytes(dir.Path("s.ssav"), previous);
  const LimitedRun run = RunLimited(dir.path(), {"s.sav"}, size, OnLimit::kWriteFails);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadBytes(dir.Path("s.ssav")), packed);
}

TEST_F(FaultTest, UnpackThatCannotWriteKeepsTheOlderFiles) {
  const std::map<std::string, std::string> save = MakeSave(3);
  const std::string archive = PackedBytes(save);
  const std::map<std::string, std::string> older = {{"s.sav", "an older save"},
                                                    {"s.jpg", std::string(50000, 'j')}};
  // each limit lets exactly the members no longer than it through
  const rlim_t kLimits[] = {0, 1, 699, 700, 701, 16384, 29999, 30000, 40002, 40003};
  for (const rlim_t limit : kLimits) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    ScratchDir dir;
    WriteAll(dir, older);
    WriteBytes(dir.Path("s.ssav"), archive);
    const LimitedRun run = RunLimited(dir.path(), {"s.ssav"}, limit, OnLimit::kWriteFails);

    std::map<std::string, std::string> expected = older;
    expected["s.ssav"] = archive;
    bool anyFailed = false;
    for (const auto& [name, bytes] : save) {
      if (bytes.size() <= limit) {
        expected[name] = bytes;
        EXPECT_EQ(run.err.find(dir.Path(name)), std::string::npos) << run.err;
      } else {
        anyFailed = true;
        const std::string line = "error: cannot write '" + dir.Path(name) + ".part': File too large\n";
        EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
      }
    }
    EXPECT_EQ(run.exitCode, anyFailed ? 3 : 0) << run.err;
    // older files whole or replaced whole, the archive untouched, no ".part" left
    EXPECT_EQ(Contents(dir.path()), expected);
    // the report still counts every entry
    EXPECT_NE(run.out.find("Total files in archive: \t3\n"), std::string::npos) << run.out;
  }
}

TEST_F(FaultTest, CrashWhileWritingLeavesOldFilesWholeAndTheNextRunRecovers) {
  const std::string previous = PackedBytes(MakeSave(4));
  const std::map<std::string, std::string> save = MakeSave(5);
  const std::string packed = PackedBytes(save);
  const auto size = static_cast<rlim_t>(packed.size());
  for (const rlim_t limit : {rlim_t{8}, rlim_t{16384}, size / 2, size - 1}) {
    SCOPED_TRACE("pack killed at limit " + std::to_string(limit));
    ScratchDir dir;
    WriteAll(dir, save);
    WriteBytes(dir.Path("s.ssav"), previous);
    const LimitedRun crashed = RunLimited(dir.path(), {"s.sav"}, limit, OnLimit::kProcessDies);
    EXPECT_EQ(crashed.signal, SIGXFSZ);
    EXPECT_EQ(ReadBytes(dir.Path("s.ssav")), previous);
    // what the killed run left behind must not stand in the way of the next one
    const LimitedRun next = RunLimited(dir.path(), {"s.sav"}, kNoLimit, OnLimit::kWriteFails);
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(ReadBytes(dir.Path("s.ssav")), packed);
    EXPECT_EQ(Names(Contents(dir.path())), (std::vector<std::string>{"s.jpg", "s.sav", "s.ssav", "s.txt"}));
  }

  const std::map<std::string, std::string> older = {{"s.sav", "an older save"},
                                                    {"s.jpg", std::string(50000, 'j')}};
  for (const rlim_t limit : {rlim_t{1}, rlim_t{20000}}) {
    SCOPED_TRACE("unpack killed at limit " + std::to_string(limit));
    ScratchDir dir;
    WriteAll(dir, older);
    WriteBytes(dir.Path("s.ssav"), packed);
    const LimitedRun crashed = RunLimited(dir.path(), {"s.ssav"}, limit, OnLimit::kProcessDies);
    EXPECT_EQ(crashed.signal, SIGXFSZ);
    for (const auto& [name, bytes] : older) {
      const std::string now = ReadBytes(dir.Path(name));
      EXPECT_TRUE(now == bytes || now == save.at(name)) << name << " is neither the old nor the new file";
    }
    const LimitedRun next = RunLimited(dir.path(), {"s.ssav"}, kNoLimit, OnLimit::kWriteFails);
    EXPECT_EQ(next.exitCode, 0) << next.err;
    std::map<std::string, std::string> expected = save;
    expected["s.ssav"] = packed;
    EXPECT_EQ(Contents(dir.path()), expected);
  }
}

// Leftovers at the temporaries' paths (a link out of the folder, a killed run's half file) are removed,
// never written through: "$tmp$" in the working directory when packing, "<file>.part" when unpacking.
TEST_F(FaultTest, NeitherCommandWritesThroughWhatIsLeftAtItsTemporary) {
  const std::map<std::string, std::string> save = MakeSave(7);
  const std::string packed = PackedBytes(save);
  const std::string victimBytes = "a file outside the save's folder";
  ScratchDir outside;
  WriteBytes(outside.Path("victim"), victimBytes);
  ScratchDir dir;
  WriteAll(dir, save);
  ScratchDir work;
  fs::create_symlink(outside.Path("victim"), work.Path("$tmp$"));
  const LimitedRun pack = RunLimited(work.path(), {dir.Path("s.sav")}, kNoLimit, OnLimit::kWriteFails);
  EXPECT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_TRUE(fs::is_empty(work.path()));

  fs::create_symlink(outside.Path("victim"), dir.Path("s.jpg.part"));
  WriteBytes(dir.Path("s.txt.part"), "half a member");
  const LimitedRun unpack = RunLimited(dir.path(), {"s.ssav"}, kNoLimit, OnLimit::kWriteFails);
  EXPECT_EQ(unpack.exitCode, 0) << unpack.err;

  EXPECT_TRUE(ReadBytes(outside.Path("victim")) == victimBytes);
  EXPECT_EQ(Names(Contents(outside.path())), std::vector<std::string>{"victim"});
  std::map<std::string, std::string> expected = save;
  expected["s.ssav"] = packed;
  EXPECT_EQ(Contents(dir.path()), expected);
  for (const char* name : {"s.ssav", "s.jpg"}) EXPECT_FALSE(fs::is_symlink(dir.Path(name))) << name;
}

TEST_F(FaultTest, ReportThatCannotBeWrittenFailsTheRun) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const std::map<std::string, std::string> save = MakeSave(6);
  ScratchDir dir;
  WriteAll(dir, save);
  for (const char* arg : {"s.sav", "s.ssav"}) {
    SCOPED_TRACE(arg);
    const LimitedRun run = RunLimited(dir.path(), {arg}, kNoLimit, OnLimit::kWriteFails, "/dev/full");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("error: cannot write to standard output: No space left on device"),
              std::string::npos)
        << run.err;
  }
  // the work itself was done: the archive is whole and unpacked the save as it was
  EXPECT_EQ(Contents(dir.path()).at("s.sav"), save.at("s.sav"));
  EXPECT_EQ(Contents(dir.path()).size(), 4u);
}

}  // namespace
}  // namespace tovrel
