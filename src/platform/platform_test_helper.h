// The platform layer's rules that tests check on their own, apart from the system calls that use them:
// the names of temporary files, the retry schedule, the console hold, and the stop point a test can
// interrupt a run at. Included by the platform's own files and by the tests alone; the tool itself
// needs only platform.h.
#ifndef TOVREL_PLATFORM_PLATFORM_TEST_HELPER_H_
#define TOVREL_PLATFORM_PLATFORM_TEST_HELPER_H_

#include <cstdint>
#include <string>

namespace tovrel {

// The environment variable that makes a run stop right after making its Nth temporary (N its decimal
// value, counted from 1): raising SIGSTOP on POSIX, waiting for an interrupt on Windows. For tests
// that interrupt a run at that point.
constexpr char kStopAtTemporaryVariable[] = "TOVREL_STOP_AT_TEMPORARY";

// True when the file name `name` (without directory) has the form CreateTempFile gives.
bool IsTempFileName(const char* name);

// The temporary file name CreateTempFile tries for `seed`, mixed so that close seeds give unrelated
// names (each implementation draws its own seeds).
std::string TempFileName(std::uint64_t seed);

// The pause in milliseconds before try number `attempt` (1 for the first retry) of a replacement or
// removal that another program blocked, or -1 to give up: the pauses grow and add up to about two
// seconds. `transient` says whether the failure was of the kind that passes (a sharing, lock or
// access violation while another program holds the file); any other failure is final at once.
int RetryPause(bool transient, int attempt);

// What HoldConsoleIfOwned knows of the console it may hold.
struct ConsoleState {
  unsigned long processCount;  // processes attached to the console; 0 for none or a failed query
  bool stdinIsConsole;
  bool stdoutIsConsole;
  bool windowVisible;  // the console has a window, and it is visible
  bool startedHidden;  // the process was started with SW_HIDE
};

// The rule HoldConsoleIfOwned follows: true only when the console has this process alone, neither
// stdin nor stdout is redirected away from it, and a person can see its window.
bool ShouldHoldConsole(const ConsoleState& console);

}  // namespace tovrel

#endif  // TOVREL_PLATFORM_PLATFORM_TEST_HELPER_H_
