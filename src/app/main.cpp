// The process entry: banner, argument checks, the choice between packing and unpacking by the
// argument's extension, and the pool that serves every archive's name table while a command runs.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/console.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "platform/platform.h"

namespace tovrel {
namespace {

int RunCommandLine(const std::vector<std::string>& args) {
  PrintBanner();
  if (args.size() < 2) {
    PrintUsage();
    return kExitUsage;
  }

  std::string fullPath;
  if (!MakeAbsolutePath(args[1].c_str(), &fullPath)) {
    ReportError(
        "cannot resolve '%s': its absolute path would be longer than the system allows or the current "
        "directory cannot be read",
        args[1].c_str());
    return kExitNotFound;
  }
  if (!PathExists(fullPath.c_str())) {
    WriteText(stdout, "File " + fullPath + " not found");  // no newline, as it always was
    return kExitNotFound;
  }
  PathParts parts;
  if (!SplitPath(fullPath.c_str(), &parts)) {
    ReportError("cannot split '%s' into directory and name", fullPath.c_str());
    return kExitNotFound;
  }

  CreatePool(kDirectHeapMode);
  int result = kExitOk;
  // exact, case-sensitive: "x.SAV" is not a save and does nothing
  if (parts.extension == kSaveExtension) {
    // a second argument names the archive only when it is the last one
    result = PackSave(parts.directory.c_str(), parts.baseName.c_str(),
                      args.size() == 3 ? args[2].c_str() : nullptr);
  } else if (parts.extension == kArchiveExtension) {
    result = UnpackArchive(parts.directory.c_str(), parts.baseName.c_str());
  }
  DestroyPool();
  return result;
}

}  // namespace
}  // namespace tovrel

int main(int argc, char** argv) {
  int result;
  try {
    result = tovrel::RunCommandLine(tovrel::CommandLineArguments(argc, argv));
  } catch (const std::bad_alloc&) {
    // the big buffers fail their one file on their own; this is for whatever small one runs out after
    tovrel::ReportError("out of memory");
    result = tovrel::kExitArchiveFailed;
  }
  // a report that never reached its reader must not pass for a clean run
  if (std::fflush(stdout) != 0) {
    tovrel::ReportError("cannot write to standard output: %s", std::strerror(errno));
    if (result == tovrel::kExitOk) result = tovrel::kExitNotFound;
  }
  tovrel::HoldConsoleIfOwned();
  return result;
}
