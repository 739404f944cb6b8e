// The process entry: banner, argument checks, the choice between packing and unpacking by the
// argument's extension, and the pool that serves every archive's name table while a command runs.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/commands.h"
#include "app/console.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "platform/platform.h"

namespace tovrel {
namespace {

int RunCommandLine(int argc, char** argv) {
  PrintBanner();
  if (argc < 2) {
    PrintUsage();
    return kExitUsage;
  }

  std::string fullPath;
  if (!MakeAbsolutePath(argv[1], &fullPath)) {
    ReportError(
        "cannot resolve '%s': its absolute path would exceed %zu bytes or the current directory "
        "cannot be read",
        argv[1], kMaxPath - 1);
    return kExitNotFound;
  }
  if (!PathExists(fullPath.c_str())) {
    std::printf("File %s not found", fullPath.c_str());  // no newline, as it always was
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
    result = PackSave(parts.directory.c_str(), parts.baseName.c_str(), argc == 3 ? argv[2] : nullptr);
  } else if (parts.extension == kArchiveExtension) {
    result = UnpackArchive(parts.directory.c_str(), parts.baseName.c_str());
  }
  DestroyPool();
  return result;
}

}  // namespace
}  // namespace tovrel

int main(int argc, char** argv) {
  int result = tovrel::RunCommandLine(argc, argv);
  // a report that never reached its reader must not pass for a clean run
  if (std::fflush(stdout) != 0) {
    tovrel::ReportError("cannot write to standard output: %s", std::strerror(errno));
    if (result == tovrel::kExitOk) result = tovrel::kExitNotFound;
  }
  tovrel::HoldConsoleIfOwned();
  return result;
}
