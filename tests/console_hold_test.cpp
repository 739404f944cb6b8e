// The rule that decides whether Tovrel.exe waits for Enter before it exits: only on a console of its
// own (started from Explorer), never in a shell's console or with a redirected stream.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace tovrel {
namespace {

TEST(ConsoleHoldTest, HoldsOnlyAConsoleOfItsOwnWithNothingRedirected) {
  const struct {
    const char* what;
    unsigned long processes;
    bool stdinIsConsole;
    bool stdoutIsConsole;
    bool hold;
  } kCases[] = {
      {"dropped on the exe in Explorer", 1, true, true, true},
      {"started from cmd.exe, which shares the console", 2, true, true, false},
      {"no console, or the query failed", 0, true, true, false},
      {"own console but stdout redirected to a file", 1, true, false, false},
      {"own console but stdin redirected from NUL", 1, false, true, false},
      {"both streams redirected", 1, false, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.hold, ShouldHoldConsole(c.processes, c.stdinIsConsole, c.stdoutIsConsole));
  }
}

}  // namespace
}  // namespace tovrel
