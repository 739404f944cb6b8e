// The command-line plan and its runs.
#include "app/plan.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/console.h"
#include "app/naming.h"
#include "archive/archive_format.h"
#include "core/block_pool.h"
#include "platform/platform.h"

namespace tovrel {

namespace {

// The absolute form of the argument `arg` and its parts; false when it has none.
bool Resolve(const std::string& arg, std::string* fullPath, PathParts* parts) {
  return MakeAbsolutePath(arg.c_str(), fullPath) && SplitPath(fullPath->c_str(), parts);
}

// True when the argument `arg` names something that exists.
bool Exists(const std::string& arg) {
  std::string fullPath;
  return MakeAbsolutePath(arg.c_str(), &fullPath) && PathExists(fullPath.c_str());
}

// What a run does with the argument `arg`, told by the name the system resolves it to ("x.sav/." is
// x.sav): pack a save, unpack an archive, or nothing.
RunMode ModeOf(const std::string& arg) {
  std::string fullPath;
  switch (KindOf(MakeAbsolutePath(arg.c_str(), &fullPath) ? fullPath.c_str() : arg.c_str())) {
    case FileKind::kSave:
      return RunMode::kPack;
    case FileKind::kArchive:
      return RunMode::kUnpack;
    case FileKind::kOther:
      break;
  }
  return RunMode::kNothing;
}

// True when `arg` names an existing file (not a directory) that is a save or an archive.
bool IsExistingSaveOrArchive(const std::string& arg) {
  std::string fullPath;
  return MakeAbsolutePath(arg.c_str(), &fullPath) && PathExists(fullPath.c_str()) &&
         !IsDirectory(fullPath.c_str()) && KindOf(fullPath.c_str()) != FileKind::kOther;
}

// True when `a` and `b` are existing files of one save: one folder, one base name (a.sav and a.jpg).
bool AreFilesOfOneSave(const std::string& a, const std::string& b) {
  std::string fullA, fullB;
  PathParts partsA, partsB;
  return Resolve(a, &fullA, &partsA) && Resolve(b, &fullB, &partsB) && PathExists(fullA.c_str()) &&
         PathExists(fullB.c_str()) &&
         SamePath((partsA.directory + partsA.baseName).c_str(), (partsB.directory + partsB.baseName).c_str());
}

bool IsOption(const std::string& arg) { return (arg.size() > 1 && arg[0] == '-') || arg == "/?"; }

// `text` as a JSON string.
std::string Json(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

Plan UsageError(const std::string& error) {
  Plan plan;
  plan.action = Plan::Action::kUsage;
  plan.error = error;
  return plan;
}

Plan RunsOf(std::vector<Run> runs) {
  Plan plan;
  plan.runs = std::move(runs);
  return plan;
}

// The plan for the arguments that are no options, when no option chose another mode.
Plan ConvertPlan(const std::vector<std::string>& operands) {
  if (operands.empty()) return UsageError("");
  const std::string& first = operands[0];
  const RunMode mode = ModeOf(first);
  if (operands.size() == 2 && !(IsExistingSaveOrArchive(first) && IsExistingSaveOrArchive(operands[1])) &&
      !AreFilesOfOneSave(first, operands[1])) {
    // the archive's name, used as it is given
    return RunsOf({{mode, first, mode == RunMode::kPack ? operands[1] : ""}});
  }
  std::vector<Run> runs = PlanFiles(operands);
  // nothing to convert among them: the first one alone, which at least must exist
  if (runs.empty()) runs.push_back({mode, first, ""});
  return RunsOf(std::move(runs));
}

}  // namespace

std::vector<Run> PlanFiles(const std::vector<std::string>& names) {
  std::vector<Run> runs;
  for (const std::string& name : names) {
    const RunMode mode = ModeOf(name);
    if (mode != RunMode::kNothing) runs.push_back({mode, name, ""});
  }
  // whatever order the shell, Explorer or the browser gave them in, byte by byte as every listing of ours
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.target < b.target; });
  return runs;
}

std::string PlanFilesJson(const std::string& names) {
  std::vector<std::string> given;
  for (std::size_t start = 0, end; start < names.size(); start = end + 1) {
    end = std::min(names.find('/', start), names.size());
    if (end > start) given.push_back(names.substr(start, end - start));
  }
  const std::vector<Run> runs = PlanFiles(given);
  std::string json = "{\"runs\":[";
  for (const Run& run : runs) {
    if (&run != &runs.front()) json += ',';
    json += std::string("{\"mode\":") + (run.mode == RunMode::kPack ? "\"pack\"" : "\"unpack\"") +
            ",\"target\":" + Json(run.target) + ",\"args\":[" + Json(run.target) + "]}";
  }
  return json + "],\"none\":" + Json(runs.empty() ? NoRunReason() : "") + "}";
}

std::string NoRunReason() {
  return std::string("None of these files is a save (") + kSaveExtension + ") or an archive (" +
         kArchiveExtension + ").";
}

Plan MakePlan(const std::vector<std::string>& args) {
  bool help = false, version = false, optionsEnded = false;
  std::string lookOption;  // the option that chose listing or testing, if any
  RunMode lookMode = RunMode::kList;
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (optionsEnded || !IsOption(arg)) {
      for (std::string& name : ExpandWildcards(arg)) operands.push_back(std::move(name));
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--list" || arg == "-l" || arg == "--test" || arg == "-t") {
      const RunMode mode = arg == "--list" || arg == "-l" ? RunMode::kList : RunMode::kTest;
      if (!lookOption.empty() && mode != lookMode) {
        return UsageError(lookOption + " and " + arg + " cannot be used together");
      }
      lookOption = arg;
      lookMode = mode;
    } else if (Exists(arg)) {
      operands.push_back(arg);  // a file whose name starts like an option
    } else {
      return UsageError("unknown option '" + arg + "' (a file of that name is given as ./" + arg + ")");
    }
  }
  if (help) {
    Plan plan;
    plan.action = Plan::Action::kHelp;
    return plan;
  }
  if (version) {
    Plan plan;
    plan.action = Plan::Action::kVersion;
    return plan;
  }
  if (lookOption.empty()) return ConvertPlan(operands);

  if (operands.empty())
    return UsageError(lookOption + " needs the path of a " + kArchiveExtension + " archive");
  std::vector<Run> runs;
  for (const std::string& operand : operands) {
    if (ModeOf(operand) != RunMode::kUnpack) {
      return UsageError(std::string("cannot ") + (lookMode == RunMode::kList ? "list" : "test") + " '" +
                        operand + "': only a " + kArchiveExtension + " archive can be looked into");
    }
    runs.push_back({lookMode, operand, ""});
  }
  return RunsOf(std::move(runs));
}

int RunOne(const Run& run) {
  std::string fullPath;
  if (!MakeAbsolutePath(run.target.c_str(), &fullPath)) {
    ReportError(
        "cannot resolve '%s': its absolute path would be longer than the system allows or the current "
        "directory cannot be read",
        run.target.c_str());
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
  const char* directory = parts.directory.c_str();
  const char* baseName = parts.baseName.c_str();
  CreatePool(kDirectHeapMode);
  int result = kExitOk;
  switch (run.mode) {
    case RunMode::kPack:
      result = PackSave(directory, baseName, run.archiveName.empty() ? nullptr : run.archiveName.c_str());
      break;
    case RunMode::kUnpack:
      result = UnpackArchive(directory, baseName);
      break;
    case RunMode::kList:
      result = ListArchive(directory, baseName);
      break;
    case RunMode::kTest:
      result = TestArchive(directory, baseName);
      break;
    case RunMode::kNothing:
      break;
  }
  DestroyPool();
  return result;
}

int RunPlan(const Plan& plan) {
  switch (plan.action) {
    case Plan::Action::kHelp:
      PrintUsage();
      PrintOptions();
      return kExitOk;
    case Plan::Action::kVersion:
      PrintVersion();
      return kExitOk;
    case Plan::Action::kUsage:
      if (!plan.error.empty()) ReportError("%s", plan.error.c_str());
      PrintUsage();
      if (!plan.error.empty()) PrintOptions();
      return kExitUsage;
    case Plan::Action::kRuns:
      break;
  }
  int result = kExitOk;
  for (std::size_t i = 0; i < plan.runs.size(); ++i) {
    if (plan.runs.size() > 1) {
      std::string shown;
      if (!MakeAbsolutePath(plan.runs[i].target.c_str(), &shown)) shown = plan.runs[i].target;
      WriteText(stdout, std::string(i > 0 ? "\n" : "") + "==> " + shown + " <==\n");
    }
    result = std::max(result, RunOne(plan.runs[i]));
  }
  return result;
}

}  // namespace tovrel
