// The process entry: the banner, the plan the arguments ask for, and its runs.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/plan.h"
#include "app/runner.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = tovrel::CommandLineArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());  // the program's own name
  int result;
  try {
    tovrel::PrintBanner();
    result = tovrel::RunPlan(tovrel::MakePlan(args));
  } catch (const std::bad_alloc&) {
    // the big buffers fail their one file on their own; this is for whatever small one runs out after
    tovrel::ReportError("out of memory");
    result = tovrel::kExitArchiveFailed;
  }
  // a report that never reached its reader must not pass for a clean run
  if (std::fflush(stdout) != 0) {
    tovrel::ReportError("cannot write to standard output: %s", std::strerror(errno));
    if (result == tovrel::kExitOk) result = tovrel::kExitStdoutFailed;
  }
  tovrel::HoldConsoleIfOwned();
  return result;
}
