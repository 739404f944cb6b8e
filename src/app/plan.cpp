// The plan of a command line, or of files given together.
#include "app/plan.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive_format.h"

namespace tovrel {

namespace {

// What a run does with a file of the kind `kind`: pack a save, unpack an archive, or nothing.
RunMode ModeOf(FileKind kind) {
  switch (kind) {
    case FileKind::kSave:
      return RunMode::kPack;
    case FileKind::kArchive:
      return RunMode::kUnpack;
    case FileKind::kOther:
      break;
  }
  return RunMode::kNothing;
}

bool Exists(const Target& target) { return target.resolved && PathExists(target.fullPath.c_str()); }

// True when `target` is an existing file (not a directory) that is a save or an archive.
bool IsExistingSaveOrArchive(const Target& target) {
  return Exists(target) && !IsDirectory(target.fullPath.c_str()) && target.kind != FileKind::kOther;
}

// True when `a` and `b` are existing files of one save: one folder, one base name (a.sav and a.jpg).
bool AreFilesOfOneSave(const Target& a, const Target& b) {
  return Exists(a) && Exists(b) &&
         SamePath((a.parts.directory + a.parts.baseName).c_str(),
                  (b.parts.directory + b.parts.baseName).c_str());
}

bool IsOption(const std::string& arg) { return (arg.size() > 1 && arg[0] == '-') || arg == "/?"; }

Plan UsageError(const std::string& error) {
  Plan plan;
  plan.action = Plan::Action::kUsage;
  plan.error = error;
  return plan;
}

Plan ActionOnly(Plan::Action action) {
  Plan plan;
  plan.action = action;
  return plan;
}

// One run for each save or archive among `targets`, in name order; the others make none.
Plan RunsOfFiles(const std::vector<Target>& targets) {
  Plan plan;
  for (const Target& target : targets) {
    const RunMode mode = ModeOf(target.kind);
    if (mode != RunMode::kNothing) plan.runs.push_back({mode, target, std::nullopt});
  }
  // whatever order the shell, Explorer or the browser gave them in, byte by byte as every listing of ours
  std::sort(plan.runs.begin(), plan.runs.end(),
            [](const Run& a, const Run& b) { return a.target.given < b.target.given; });
  return plan;
}

// The plan for the arguments that are no options, when no option chose another mode.
Plan ConvertPlan(const std::vector<Target>& operands) {
  if (operands.empty()) return UsageError("");
  const Target& first = operands[0];
  const RunMode mode = ModeOf(first.kind);
  if (operands.size() == 2 && !(IsExistingSaveOrArchive(first) && IsExistingSaveOrArchive(operands[1])) &&
      !AreFilesOfOneSave(first, operands[1])) {
    Plan plan;
    // the archive's name, used as it is given
    plan.runs.push_back(
        {mode, first, mode == RunMode::kPack ? std::optional(operands[1].given) : std::nullopt});
    return plan;
  }
  Plan plan = RunsOfFiles(operands);
  // nothing to convert among them: the first one alone, which at least must exist
  if (plan.runs.empty()) plan.runs.push_back({mode, first, std::nullopt});
  return plan;
}

// The plan for archives to be looked into, one run of `mode` each.
Plan InspectionPlan(const std::vector<Target>& operands, const std::string& option, RunMode mode) {
  if (operands.empty()) return UsageError(option + " needs the path of a " + kArchiveExtension + " archive");
  Plan plan;
  for (const Target& operand : operands) {
    if (operand.kind != FileKind::kArchive) {
      return UsageError(std::string("cannot ") + (mode == RunMode::kList ? "list" : "test") + " '" +
                        operand.given + "': only a " + kArchiveExtension + " archive can be looked into");
    }
    plan.runs.push_back({mode, operand, std::nullopt});
  }
  return plan;
}

}  // namespace

Target Resolve(const std::string& given) {
  Target target{given, false, "", {}, FileKind::kOther};
  target.resolved =
      MakeAbsolutePath(given.c_str(), &target.fullPath) && SplitPath(target.fullPath.c_str(), &target.parts);
  // the name the system resolves it to tells the kind: "x.sav/." is x.sav
  target.kind = KindOf(target.resolved ? target.fullPath.c_str() : given.c_str());
  return target;
}

Plan MakePlan(const std::vector<std::string>& args) {
  bool help = false, version = false, optionsEnded = false;
  std::string inspectionOption;  // the option that chose listing or testing, if any
  RunMode inspectionMode = RunMode::kList;
  std::vector<Target> operands;
  for (const std::string& arg : args) {
    if (optionsEnded || !IsOption(arg)) {
      for (const std::string& name : ExpandWildcards(arg)) operands.push_back(Resolve(name));
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--list" || arg == "-l" || arg == "--test" || arg == "-t") {
      const RunMode mode = arg == "--list" || arg == "-l" ? RunMode::kList : RunMode::kTest;
      if (!inspectionOption.empty() && mode != inspectionMode) {
        return UsageError(inspectionOption + " and " + arg + " cannot be used together");
      }
      inspectionOption = arg;
      inspectionMode = mode;
    } else if (Target file = Resolve(arg); Exists(file)) {
      operands.push_back(std::move(file));  // a file whose name starts like an option
    } else {
      return UsageError("unknown option '" + arg + "' (a file of that name is given as ./" + arg + ")");
    }
  }
  if (help) return ActionOnly(Plan::Action::kHelp);
  if (version) return ActionOnly(Plan::Action::kVersion);
  if (inspectionOption.empty()) return ConvertPlan(operands);
  return InspectionPlan(operands, inspectionOption, inspectionMode);
}

Plan MakeFilesPlan(const std::vector<std::string>& names, Inspection inspection) {
  std::vector<Target> targets;
  for (const std::string& name : names) {
    Target target = Resolve(name);
    // looking into files takes the archives among them alone
    if (inspection == Inspection::kNone || target.kind == FileKind::kArchive)
      targets.push_back(std::move(target));
  }
  Plan plan = RunsOfFiles(targets);
  if (inspection != Inspection::kNone) {
    for (Run& run : plan.runs) run.mode = inspection == Inspection::kList ? RunMode::kList : RunMode::kTest;
  }
  return plan;
}

}  // namespace tovrel
