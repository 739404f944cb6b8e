// The decisions Windows behaviour rests on that Wine cannot show: whether Tovrel.exe waits for Enter
// before it exits (only on a visible console of its own, never in a shell's console, with a redirected
// stream, or in a hidden window), and how long a replacement another program blocks is retried.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace tovrel {
namespace {

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
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.hold, ShouldHoldConsole(c.console));
  }
}

TEST(RetryPauseTest, GrowsForAboutTwoSecondsAndOnlyForTransientFailures) {
  EXPECT_EQ(-1, RetryPause(/*transient=*/false, 1)) << "a final failure is not retried";
  int total = 0;
  int previous = 0;
  int attempt = 1;
  for (int pause; (pause = RetryPause(true, attempt)) >= 0; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_GT(pause, 0);
    EXPECT_GE(pause, previous) << "pauses never shrink";
    previous = pause;
    total += pause;
    ASSERT_LT(attempt, 100) << "never gives up";
  }
  EXPECT_GT(previous, RetryPause(true, 1)) << "pauses grow";
  EXPECT_GE(total, 1500);
  EXPECT_LE(total, 2500);
}

}  // namespace
}  // namespace tovrel
