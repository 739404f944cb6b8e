// The decision behind HoldConsoleIfOwned, kept free of system calls so every platform builds and
// tests the same rule.
#include "platform/platform.h"

namespace tovrel {

bool ShouldHoldConsole(unsigned long consoleProcessCount, bool stdinIsConsole, bool stdoutIsConsole) {
  // a count of 0 means no console or a failed query; 2 or more, a shell or another program shares it
  return consoleProcessCount == 1 && stdinIsConsole && stdoutIsConsole;
}

}  // namespace tovrel
