// What the tool is asked to do, decided in one place before anything is done: the plan of a command
// line, or of files given together (dropped on Tovrel.exe, chosen in the page). Deciding looks at the
// file system (what exists, what is a directory) but changes nothing; runner.h carries a plan out.
// Each argument is made absolute here, once, and every run carries what it resolved to.
#ifndef TOVREL_APP_PLAN_H_
#define TOVREL_APP_PLAN_H_

#include <optional>
#include <string>
#include <vector>

#include "app/naming.h"
#include "platform/platform.h"

namespace tovrel {

// What one run does with its target.
enum class RunMode {
  kPack,    // a save
  kUnpack,  // an archive
  kList,    // an archive, looked into without writing
  kTest,    // an archive, checked without writing
  kNothing  // neither a save nor an archive: nothing, once the file is known to exist
};

// One argument as it entered, and what it names.
struct Target {
  std::string given;     // the path as given
  bool resolved;         // false when it has no absolute form (too long, or no current directory)
  std::string fullPath;  // the absolute path (resolved only)
  PathParts parts;       // its directory, ending in its separator, and its base name (resolved only)
  FileKind kind;         // told by the absolute path's name, or by `given` when unresolved
};

// Makes the argument `given` absolute and tells what it names. The one place an argument is resolved.
Target Resolve(const std::string& given);

// One save or archive to work on, exactly as if it had been the only argument.
struct Run {
  RunMode mode;
  Target target;
  std::optional<std::string> archiveName;  // kPack: the name given for the archive, used as it is
};

// What a command line, or a set of files given together, asks for.
struct Plan {
  enum class Action {
    kRuns,     // make `runs`, in order
    kHelp,     // print the usage and the options
    kVersion,  // print the version
    kUsage     // print `error` (when there is one), then the usage; end with the usage exit code
  };
  Action action = Action::kRuns;
  std::string error;  // kUsage: why the arguments cannot be run; empty when none were given
  std::vector<Run> runs;
};

// The plan for the arguments `args` (without the program's name):
// - Options may stand anywhere before "--", which ends them. An argument that looks like an option but
//   is none is a file when one of that name exists, and a usage error otherwise.
// - --list/-l and --test/-t take one run per argument, each of which must name a ".ssav" archive.
// - One argument is one run; with two, the second names the archive a save is packed into, unless
//   both are existing saves or archives, or both are files of one save: then they are files given
//   together, as with three or more (see MakeFilesPlan). On Windows, a wildcard argument first becomes
//   the files it matches.
Plan MakePlan(const std::vector<std::string>& args);

// What files given together are to be looked at with, instead of converted.
enum class Inspection { kNone, kList, kTest };

// The plan for files given together: one run for each save or archive among `names`, in name order
// (the others are a save's companions and make none), or, with an inspection, one run of it for each
// archive among them. Never an option, never an archive's name: the names are files and nothing else.
// Its runs are empty when none of the names is one to run.
Plan MakeFilesPlan(const std::vector<std::string>& names, Inspection inspection);

}  // namespace tovrel

#endif  // TOVREL_APP_PLAN_H_
