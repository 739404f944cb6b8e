// The command line as a plan: what the arguments ask for is decided here, in one place and before
// anything is done, then carried out run by run. Tovrel.exe's main runs the plan of its arguments; the
// browser page asks for the plan of the files a player gives it and runs the same runs.
#ifndef TOVREL_APP_PLAN_H_
#define TOVREL_APP_PLAN_H_

#include <string>
#include <vector>

namespace tovrel {

// What one run does with its target.
enum class RunMode {
  kPack,    // a save
  kUnpack,  // an archive
  kList,    // an archive, looked into without writing
  kTest,    // an archive, checked without writing
  kNothing  // neither a save nor an archive: nothing, once the file is known to exist
};

// One save or archive to work on, exactly as if it had been the only argument.
struct Run {
  RunMode mode;
  std::string target;       // the path as given
  std::string archiveName;  // kPack: the archive's name in place of the save's, or empty
};

// What one command line asks for.
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
//   together, as with three or more (PlanFiles). On Windows, a wildcard argument first becomes the
//   files it matches.
Plan MakePlan(const std::vector<std::string>& args);

// The runs for files given together (dropped on the program, chosen in the page): one for each save
// or archive among `names`, in name order; the others are a save's companions and make none.
std::vector<Run> PlanFiles(const std::vector<std::string>& names);

// Why files given together make no run, as the page says it.
std::string NoRunReason();

// PlanFiles for `names` (each without a folder, joined by '/', which no file name holds) as the page
// reads it, in JSON: {"runs": [{"mode", "target", "args"}...], "none"}, where "mode" is "pack" or
// "unpack", "args" the command line that makes the run alone, and "none" NoRunReason() when there is
// no run, else "".
std::string PlanFilesJson(const std::string& names);

// Makes the run `run` and returns its exit code, after reporting any failure.
int RunOne(const Run& run);

// Carries out `plan`: prints what it asks for, or makes its runs in turn (with a line naming each
// when there are several; a failure does not stop the next). Returns the highest exit code.
int RunPlan(const Plan& plan);

}  // namespace tovrel

#endif  // TOVREL_APP_PLAN_H_
