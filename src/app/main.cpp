// The process entry: banner, options, argument checks, the choice between packing and unpacking by
// each argument's extension (one save or archive, or several in turn), and the pool that serves every
// archive's name table while a command runs.
#include <algorithm>
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

// What to do with a save or archive named on the command line.
enum class Mode { kConvert, kList, kTest };

// Runs the one save or archive `arg`: packs a ".sav" (into `archiveName` when not null) or unpacks a
// ".ssav" (kConvert), or lists or tests a ".ssav" without changing anything. Returns the exit code.
int RunOne(const std::string& arg, const char* archiveName, Mode mode) {
  std::string fullPath;
  if (!MakeAbsolutePath(arg.c_str(), &fullPath)) {
    ReportError(
        "cannot resolve '%s': its absolute path would be longer than the system allows or the current "
        "directory cannot be read",
        arg.c_str());
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
  const FileKind kind = KindOf(fullPath.c_str());  // exact: "x.SAV" is no save and does nothing
  if (mode != Mode::kConvert && kind != FileKind::kArchive) {
    ReportError("cannot %s '%s': only a %s archive can be looked into", mode == Mode::kList ? "list" : "test",
                fullPath.c_str(), kArchiveExtension);
    return kExitUsage;
  }

  CreatePool(kDirectHeapMode);
  int result = kExitOk;
  if (mode == Mode::kList) {
    result = ListArchive(parts.directory.c_str(), parts.baseName.c_str());
  } else if (mode == Mode::kTest) {
    result = TestArchive(parts.directory.c_str(), parts.baseName.c_str());
  } else if (kind == FileKind::kSave) {
    result = PackSave(parts.directory.c_str(), parts.baseName.c_str(), archiveName);
  } else if (kind == FileKind::kArchive) {
    result = UnpackArchive(parts.directory.c_str(), parts.baseName.c_str());
  }
  DestroyPool();
  return result;
}

// Runs every one of `args` in turn as if it had been given alone; with more than one, a line naming
// each comes before what its run prints. Returns the highest exit code of them all.
int RunEach(const std::vector<std::string>& args, Mode mode) {
  int result = kExitOk;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args.size() > 1) {
      std::string shown;
      if (!MakeAbsolutePath(args[i].c_str(), &shown)) shown = args[i];
      WriteText(stdout, std::string(i > 0 ? "\n" : "") + "==> " + shown + " <==\n");
    }
    result = std::max(result, RunOne(args[i], nullptr, mode));
  }
  return result;
}

// True when `arg` names an existing file (not a directory) whose extension is ".sav" or ".ssav".
bool IsSaveOrArchive(const std::string& arg) {
  std::string fullPath;
  if (!MakeAbsolutePath(arg.c_str(), &fullPath) || !PathExists(fullPath.c_str()) ||
      IsDirectory(fullPath.c_str())) {
    return false;
  }
  return KindOf(fullPath.c_str()) != FileKind::kOther;
}

// Prints why the command line cannot be run, then the usage with the options. Returns kExitUsage.
int UsageError(const std::string& reason) {
  ReportError("%s", reason.c_str());
  PrintUsage();
  PrintOptions();
  return kExitUsage;
}

int RunCommandLine(const std::vector<std::string>& args) {
  PrintBanner();
  if (args.size() < 2) {
    PrintUsage();
    return kExitUsage;
  }
  const std::string& first = args[1];
  if (first == "--help" || first == "-h" || first == "/?") {
    PrintUsage();
    PrintOptions();
    return kExitOk;
  }
  if (first == "--version") {
    PrintVersion();
    return kExitOk;
  }
  const bool list = first == "--list" || first == "-l";
  if (list || first == "--test" || first == "-t") {
    if (args.size() < 3) return UsageError(first + " needs the path of a " + kArchiveExtension + " archive");
    return RunEach({args.begin() + 2, args.end()}, list ? Mode::kList : Mode::kTest);
  }
  std::string fullPath;
  if (first.compare(0, 2, "--") == 0 &&
      !(MakeAbsolutePath(first.c_str(), &fullPath) && PathExists(fullPath.c_str()))) {
    return UsageError("unknown option '" + first + "' (a file of that name is given as ./" + first + ")");
  }
  // several saves or archives, as Explorer passes the files dropped on the program; any other second
  // argument is the archive's name, as it always was
  if (args.size() > 2 && std::all_of(args.begin() + 1, args.end(), IsSaveOrArchive)) {
    return RunEach({args.begin() + 1, args.end()}, Mode::kConvert);
  }
  // a second argument names the archive only when it is the last one
  return RunOne(first, args.size() == 3 ? args[2].c_str() : nullptr, Mode::kConvert);
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
