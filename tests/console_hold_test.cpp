// The decisions Windows behaviour rests on that Wine cannot show: whether Tovrel.exe waits for Enter
// before it exits (only on a visible console of its own, never in a shell's console, with a redirected
// stream, or in a hidden window), and how long a replacement another program blocks is retried.
#include <gtest/gtest.h>

#include <tuple>

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
}  // namespace tovrel
