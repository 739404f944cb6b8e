// Carries out a plan (plan.h): prints what it asks for, or makes its runs in turn. Each run has the
// process-wide block pool for its own life, as the tool has always run one command.
#ifndef TOVREL_APP_RUNNER_H_
#define TOVREL_APP_RUNNER_H_

#include <cstddef>

#include "app/plan.h"

namespace tovrel {

// Makes the run `run` and returns its exit code, after reporting any failure. Its target must exist
// by now: one that does not is "File ... not found".
int RunOne(const Run& run);

// Makes run number `index` of `plan`, after a line naming it when the plan has several (and an empty
// line between runs), and returns its exit code. Requires: `index` < plan.runs.size().
int RunInTurn(const Plan& plan, std::size_t index);

// Carries out `plan`: prints what it asks for, or makes its runs in turn (a failure does not stop the
// next). Returns the highest exit code.
int RunPlan(const Plan& plan);

}  // namespace tovrel

#endif  // TOVREL_APP_RUNNER_H_
