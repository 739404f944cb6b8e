// The runs of a plan.
#include "app/runner.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/console.h"
#include "core/block_pool.h"
#include "platform/platform.h"

namespace tovrel {

int RunOne(const Run& run) {
  const Target& target = run.target;
  if (!target.resolved) {
    ReportError(
        "cannot resolve '%s': its absolute path would be longer than the system allows or the current "
        "directory cannot be read",
        target.given.c_str());
    return kExitNotFound;
  }
  if (!PathExists(target.fullPath.c_str())) {
    WriteText(stdout, "File " + target.fullPath + " not found");  // no newline, as it always was
    return kExitNotFound;
  }
  const char* directory = target.parts.directory.c_str();
  const char* baseName = target.parts.baseName.c_str();
  CreatePool(kDirectHeapMode);
  int result = kExitOk;
  switch (run.mode) {
    case RunMode::kPack:
      result = PackSave(directory, baseName, run.archiveName ? run.archiveName->c_str() : nullptr);
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

int RunInTurn(const Plan& plan, std::size_t index) {
  if (plan.runs.size() > 1) {
    const Target& target = plan.runs[index].target;
    WriteText(stdout, std::string(index > 0 ? "\n" : "") + "==> " +
                          (target.resolved ? target.fullPath : target.given) + " <==\n");
  }
  return RunOne(plan.runs[index]);
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
  for (std::size_t i = 0; i < plan.runs.size(); ++i) result = std::max(result, RunInTurn(plan, i));
  return result;
}

}  // namespace tovrel
