// Fault injection on real I/O: the real binary runs with a file-size limit (`ulimit -f`, in 512-byte
// blocks), so a write fails part-way as on a full disk (EFBIG with SIGXFSZ ignored), or the process is
// killed there (the signal's default action, like a crash or a power cut), or it is interrupted while a
// temporary exists. Whatever the fault, the previous archive and the files beside it must come through
// whole, old or new; a failed or interrupted run must leave no temporary behind; after a crash the next
// normal run must succeed. POSIX only.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "platform/platform.h"
#include "platform/platform_test_helper.h"
#include "test_util.h"

namespace tovrel::test {
namespace {

constexpr long kNoLimit = -1;
constexpr std::size_t kBlock = 512;

// Runs the tool on `arg` in `dir` with every file it writes capped at `blocks` 512-byte blocks, and
// returns its exit code (128 + the signal that killed it). Its stdout and stderr go together to `output`
// through a pipe, which the limit does not touch. With `killed`, reaching the limit kills the tool.
int RunLimited(const ScratchDir& dir, const std::string& arg, long blocks, bool killed = false,
               std::string* output = nullptr) {
  ScratchDir capture;
  const std::string limit = blocks == kNoLimit ? "" : "ulimit -f " + std::to_string(blocks) + "; ";
  const std::string command = "cd '" + dir.path() + "' && { sh -c '" + (killed ? "" : "trap \"\" XFSZ; ") +
                              limit + "exec \"$0\" \"$1\"' '" + TOOL_PATH + "' '" + arg +
                              "' </dev/null 2>&1; echo \"$?\" >'" + capture.Path("code") + "'; } | cat >'" +
                              capture.Path("out") + "'";
  EXPECT_EQ(0, std::system(command.c_str())) << command;
  if (output) *output = ReadBytes(capture.Path("out"));
  return std::atoi(ReadBytes(capture.Path("code")).c_str());
}

// Packs over an older archive and unpacks over older files, with writes failing at many limits (the
// header, the first window, the middle and the last byte of the archive; each member's length), then
// killed at the same limits and run once more without limit. The save has an incompressible member over
// two 16 KiB windows, a compressible one and a small one.
TEST(FaultTest, WritesThatFailOrKillLeaveEveryFileWholeAndTheNextRunRecovers) {
  Files save = {
      {"s.sav", RandomBytes(40001, 1)}, {"s.jpg", TextBytes(30000, 2)}, {"s.txt", RandomBytes(700, 3)}};
  ScratchDir packing;
  WriteAll(packing, save);
  ASSERT_EQ(0, RunLimited(packing, "s.sav", kNoLimit));
  const std::string previous = ReadBytes(packing.Path("s.ssav"));
  save["s.sav"] = RandomBytes(40002, 4);
  WriteAll(packing, save);
  ASSERT_EQ(0, RunLimited(packing, "s.sav", kNoLimit));
  const Files after = Contents(packing.path());  // what every run ends with once it is let finish
  const std::string packed = after.at("s.ssav");
  const long last = static_cast<long>((packed.size() - 1) / kBlock);  // the archive does not fit
  const std::pair<const char*, long> kCases[] = {
      {"s.sav", 0},  {"s.sav", 1},  {"s.sav", 32}, {"s.sav", 33},  {"s.sav", last / 2}, {"s.sav", last},
      {"s.ssav", 0}, {"s.ssav", 1}, {"s.ssav", 2}, {"s.ssav", 58}, {"s.ssav", 59},      {"s.ssav", 79}};
  for (const auto& [arg, limit] : kCases) {
    SCOPED_TRACE(std::string(arg) + " at " + std::to_string(limit) + " blocks");
    const bool pack = std::string(arg) == "s.sav";
    Files before = pack ? save : Files{{"s.sav", "an older save"}, {"s.jpg", std::string(50000, 'j')}};
    before["s.ssav"] = pack ? previous : packed;
    ScratchDir dir;
    WriteAll(dir, before);
    std::string output;
    const int code = RunLimited(dir, arg, limit, false, &output);
    Files expected = before;
    int failures = 0;
    for (const auto& [name, bytes] : save) {
      const bool fits = bytes.size() <= static_cast<std::size_t>(limit) * kBlock;
      if (!pack && fits) expected[name] = bytes;
      failures += fits ? 0 : 1;
      const std::string line =
          pack ? "error: cannot save the archive '" + dir.Path("s.ssav") + "': File too large\n"
               : "error: cannot write '" + dir.Path(name) + "': File too large\n";
      EXPECT_EQ(pack || !fits, output.find(line) != std::string::npos) << output;
    }
    const bool anyFailed = pack || failures > 0;
    EXPECT_EQ(anyFailed ? 3 : 0, code);
    // the banner, then one error line when packing, or the report and one line per failed member
    EXPECT_EQ(pack ? 4 : 7 + failures, std::count(output.begin(), output.end(), '\n')) << output;
    EXPECT_EQ(expected, Contents(dir.path()));  // whole or untouched, and no temporary left

    ScratchDir crashed;
    WriteAll(crashed, before);
    EXPECT_EQ(anyFailed ? 128 + SIGXFSZ : 0, RunLimited(crashed, arg, limit, true));
    for (const auto& [name, bytes] : Contents(crashed.path(), false)) {
      if (before.count(name) != 0 && bytes == before.at(name)) continue;  // the old file, untouched
      EXPECT_FALSE(pack) << name << " changed, but a pack changes nothing before its archive is whole";
      if (!pack) {
        EXPECT_EQ(after.at(name), bytes) << name << " is neither the old file nor the new one";
      }
    }
    EXPECT_EQ(0, RunLimited(crashed, arg, kNoLimit));  // the killed run's leftover is in no one's way
    EXPECT_EQ(after, Contents(crashed.path(), false));
  }
}

// Runs the tool on `arg` in `dir` until it stops itself just after making its `nth` temporary, checks
// that the temporary is there, sends `signal` and lets the tool go on. Returns its wait status. With
// `ignored` the tool starts with that signal ignored (as under nohup), otherwise none.
int RunInterrupted(const ScratchDir& dir, const std::string& arg, int nth, int signal, bool ignored) {
  (void)setenv(kStopAtTemporaryVariable, std::to_string(nth).c_str(), 1);
  const pid_t pid = fork();
  if (pid == 0) {
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
      (void)std::signal(s, ignored && s == signal ? SIG_IGN : SIG_DFL);
    if (chdir(dir.path().c_str()) == 0 && std::freopen("/dev/null", "w", stdout) && dup2(1, 2) == 2)
      execl(TOOL_PATH, TOOL_PATH, arg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  (void)unsetenv(kStopAtTemporaryVariable);
  int status = 0;
  EXPECT_EQ(pid, waitpid(pid, &status, WUNTRACED));
  EXPECT_TRUE(WIFSTOPPED(status)) << status;
  EXPECT_EQ(1u, Contents(dir.path()).size() - Contents(dir.path(), false).size())
      << "one temporary, while stopped";
  (void)kill(pid, signal);
  (void)kill(pid, SIGCONT);
  EXPECT_EQ(pid, waitpid(pid, &status, 0));
  return status;
}

// Ctrl+C, kill or a hang-up while a temporary exists (the first of a pack, each of an unpack's three)
// ends the run by that signal, with no temporary left, the files put in place before it kept new and
// every other file as it was. A signal the run was started to ignore lets it finish.
TEST(FaultTest, InterruptedRunsRemoveTheirTemporariesAndKeepEveryFileWhole) {
  const Files save = {{"s.sav", RandomBytes(40001, 1)}, {"s.jpg", TextBytes(30000, 2)}, {"s.txt", "t"}};
  ScratchDir packing;
  WriteAll(packing, save);
  ASSERT_EQ(0, RunLimited(packing, "s.sav", kNoLimit));
  const std::string packed = ReadBytes(packing.Path("s.ssav"));
  // {argument, the temporary it stops after, the signal, whether the run ignores that signal}
  const std::tuple<std::string, int, int, bool> kCases[] = {
      {"s.sav", 1, SIGINT, false},  {"s.sav", 1, SIGTERM, false}, {"s.sav", 1, SIGHUP, false},
      {"s.ssav", 1, SIGHUP, false}, {"s.ssav", 2, SIGINT, false}, {"s.ssav", 3, SIGTERM, false},
      {"s.sav", 1, SIGHUP, true}};
  for (const auto& [arg, nth, signal, ignored] : kCases) {
    SCOPED_TRACE(arg + " at temporary " + std::to_string(nth) + ", signal " + std::to_string(signal) +
                 (ignored ? " (ignored)" : ""));
    const bool pack = arg == "s.sav";
    Files before = pack ? save : Files{{"s.sav", "old"}, {"s.jpg", "old jpg"}, {"s.txt", "old txt"}};
    before["s.ssav"] = pack ? "an older archive" : packed;
    ScratchDir dir;
    WriteAll(dir, before);
    const int status = RunInterrupted(dir, arg, nth, signal, ignored);
    // as a shell shows it: the exit code, or 128 + the signal that ended the run
    EXPECT_EQ(ignored ? 0 : 128 + signal, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    const Files after = Contents(dir.path());
    EXPECT_EQ(before.size(), after.size());  // no temporary, nothing lost
    int replaced = 0;                        // by its new file, whole
    for (const auto& [name, bytes] : after) {
      const bool isNew = bytes != before[name] && bytes == (name == "s.ssav"   ? packed
                                                            : save.count(name) ? save.at(name)
                                                                               : "");
      replaced += isNew ? 1 : 0;
      EXPECT_EQ(isNew ? bytes : before[name], bytes) << name;
    }
    EXPECT_EQ(ignored ? 1 : nth - 1, replaced);
  }
}

}  // namespace
}  // namespace tovrel::test
