// Tests of the platform layer, POSIX and Windows, for what the end-to-end tests do not reach: path
// folding and counting, literal matching in the save-file search, the temporaries' names, and the rules
// for the console hold and for retries.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/platform_test_helper.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace tovrel::test {
namespace {

TEST(PathTest, AbsolutePathsFoldAsTheSystemDoesAndFitAsItCounts) {
  std::string here = fs::current_path().u8string();
  // ".", doubled separators and a trailing separator are folded; ".." only on Windows (POSIX leaves it to
  // the kernel, which knows where it leads after a link); Windows drops trailing dots and spaces
  const std::pair<std::string, std::string> kCases[] = {{"./x.sav", "/x.sav"},
                                                        {"a//b/", "/a/b/"},
                                                        {"a/../c", kWindows ? "/c" : "/a/../c"},
                                                        {"x.ssav. .", kWindows ? "/x.ssav" : "/x.ssav. ."},
                                                        {"x.sav/.", kWindows ? "/x.sav" : "/x.sav/"}};
  for (const auto& [in, want] : kCases) {
    std::string out;
    std::string expected = here + want;
    if (kWindows) std::replace(expected.begin(), expected.end(), '/', '\\');
    EXPECT_TRUE(MakeAbsolutePath(in.c_str(), &out)) << in;
    EXPECT_EQ(expected, out) << in;
  }
  // counted as the system counts: bytes on POSIX, UTF-16 units on Windows ("存" is 3 bytes, 1 unit)
  std::string wide;
  for (std::size_t i = 0; i + 1 < kMaxPath; ++i) wide += "存";
  EXPECT_TRUE(PathFits(std::string(kMaxPath - 1, 'a')));
  EXPECT_FALSE(PathFits(std::string(kMaxPath, 'a')));
  EXPECT_EQ(kWindows, PathFits(wide));
  EXPECT_STREQ("", FindExtension("a./b"));  // a dot in a folder's name is no extension
}

// Wildcards in the base match only themselves, letter case counts as the file system counts it, the
// names come back sorted, and a temporary of this tool is never found.
TEST(PlatformTest, TheSearchIsLiteralAndTemporariesAreOurOwn) {
  ScratchDir dir;
  WriteAll(dir,
           {{"a[b]", ""}, {"a[b].sav", ""}, {"ab.sav", ""}, {"A[B].jpg", ""}, {"~tovrel-0123abcz.tmp", ""}});
  const std::pair<const char*, std::vector<std::string>> kCases[] = {
      {"a[b]", kWindows ? std::vector<std::string>{"A[B].jpg", "a[b]", "a[b].sav"}
                        : std::vector<std::string>{"a[b]", "a[b].sav"}},
      {"a?", {}},
      {"~tovrel-0123abcz", {}}};
  for (const auto& [base, want] : kCases) {
    std::vector<FoundFile> found;
    EXPECT_EQ(!want.empty(), ListMatchingFiles((dir.path() + (kWindows ? "\\" : "/")).c_str(), base, &found));
    std::vector<std::string> names;
    for (const FoundFile& f : found) names.push_back(f.name);
    EXPECT_EQ(want, names) << base;
  }
  std::set<std::string> temps;
  for (int i = 0; i < 10; ++i) {  // more than may be live at once: each goes before the next is made
    std::string temp;
    std::FILE* file = CreateTempFile(dir.Path("target").c_str(), &temp);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0, std::fclose(file));
    EXPECT_EQ(dir.Path(FsPath(temp).filename().u8string()), temp);  // beside its target
    EXPECT_TRUE(IsTempFileName(FsPath(temp).filename().u8string().c_str())) << temp;
    EXPECT_EQ(nullptr, CreateNewFile(temp.c_str()));  // exclusive
    EXPECT_TRUE(RemoveFile(temp.c_str())) << temp;
    EXPECT_TRUE(temps.insert(temp).second) << temp << " was made before";
  }
  std::vector<std::string> live(kMaxLiveTemporaries);  // as many as may be live at once, and one more
  for (std::string& temp : live) {
    std::FILE* file = CreateTempFile(dir.Path("target").c_str(), &temp);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0, std::fclose(file));
  }
  std::string refused;
  EXPECT_EQ(nullptr, CreateTempFile(dir.Path("target").c_str(), &refused));
  EXPECT_EQ("too many temporary files at once", LastFailure());
  for (const std::string& temp : live) EXPECT_TRUE(RemoveFile(temp.c_str())) << temp;
  for (const char* name : {"~tovrel-abc.tmp", "~tovrel-A123abcd.tmp", "~tovrel-0123abcD.tmp",
                           "~Tovrel-0123abcd.tmp", "~tovrel-0123abcd.tm"}) {
    EXPECT_FALSE(IsTempFileName(name)) << name;
  }
}

// The decisions Windows behaviour rests on that Wine cannot show: whether Tovrel.exe waits for Enter
// before it exits (only on a visible console of its own, never in a shell's console, with a redirected
// stream, or in a hidden window), and how long a replacement another program blocks is retried.
TEST(ConsoleHoldTest, HoldsOnlyAVisibleConsoleOfItsOwnWithNothingRedirected) {
  const struct {
    const char* what;
    ConsoleState console;  // processes, stdin and stdout are consoles, window visible, started hidden
    bool hold;
  } kCases[] = {
      {"dropped on the exe in Explorer", {1, true, true, true, false}, true},
      {"started from cmd.exe, which shares the console", {2, true, true, true, false}, false},
      {"no console, or the query failed", {0, true, true, true, false}, false},
      {"own console but stdout redirected to a file", {1, true, false, true, false}, false},
      {"own console but stdin redirected from NUL", {1, false, true, true, false}, false},
      {"own console with no window (CREATE_NO_WINDOW)", {1, true, true, false, false}, false},
      {"started with SW_HIDE by a launcher or a scheduled task", {1, true, true, true, true}, false},
  };
  for (const auto& c : kCases) EXPECT_EQ(ShouldHoldConsole(c.console), c.hold) << c.what;
}

// Pauses double from 10 ms up to 320 ms and stop before two seconds have passed in all (1910 ms);
// a final failure, or an attempt before the first, is not retried.
TEST(RetryPauseTest, GrowsToAboutTwoSecondsOnlyForTransientFailures) {
  // {transient, attempt, pause}
  const std::tuple<bool, int, int> kCases[] = {{false, 1, -1},  {true, 0, -1},  {true, 1, 10},
                                               {true, 2, 20},   {true, 5, 160}, {true, 6, 320},
                                               {true, 10, 320}, {true, 11, -1}};
  for (const auto& [transient, attempt, pause] : kCases)
    EXPECT_EQ(RetryPause(transient, attempt), pause) << attempt;
}

}  // namespace
}  // namespace tovrel::test
